#include "elements/cond_line.hpp"

#include "elements/removed_line.hpp"

namespace weldrix {

bool cond_line::simplify(std::unique_ptr<ldraw_line>& replacement) const {
    for (int p = 0; p < 4; ++p) {
        for (int q = p + 1; q < 4; ++q) {
            if (close(p, q)) {
                replacement = std::make_unique<removed_line>();
                return true;
            }
        }
    }
    return false;
}

}  // namespace weldrix
