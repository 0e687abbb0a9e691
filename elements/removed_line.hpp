// Takes the place of a line that unification removed, so that positions in the document (and its
// count of the file's own lines) stay valid. Its text is empty, so it is never written.
#pragma once

#include "elements/ldraw_line.hpp"

namespace weldrix {

class removed_line final : public ldraw_line {
public:
    removed_line() = default;
    line_type type_code() const override;
    std::unique_ptr<ldraw_line> clone() const override;
};

}  // namespace weldrix
