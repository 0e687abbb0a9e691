#include "app/options.hpp"

#include "geometry/number_parse.hpp"

namespace weldrix {
namespace {

void read_threshold(const std::string& text, double& threshold) {
    const double_scan s = scan_double(text.data(), text.data() + text.size());
    if (s.status == scan_status::number) threshold = s.value;
}

}  // namespace

std::optional<run_options> parse_options(const std::vector<std::string>& args) {
    if (args.size() < 2) return std::nullopt;
    run_options options;
    options.input = args[args.size() - 2];
    options.output = args[args.size() - 1];

    const std::size_t option_end = args.size() - 2;  // options stand before the input name
    for (std::size_t i = 0; i < option_end; ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') return std::nullopt;
        // A value option takes the next argument, which may be the input file name itself.
        const auto value = [&]() -> const std::string& { return args[++i]; };
        switch (arg[1]) {
            case 'l': {
                const std::string& folder = value();
                if (folder.empty()) return std::nullopt;
                options.library_folders.push_back(folder);
                break;
            }
            case 's': options.clean.snap_on_subfiles = true; break;
            case 'u':
                if (arg.size() < 3) return std::nullopt;
                if (arg[2] == 's') {
                    read_threshold(value(), options.clean.thresholds.subfile_threshold);
                } else if (arg[2] == 't') {
                    read_threshold(value(), options.clean.thresholds.vertex_threshold);
                } else {
                    return std::nullopt;
                }
                break;
            default: return std::nullopt;
        }
    }
    return options;
}

std::string base_folder(const std::string& input) {
    const auto last = input.find_last_of("\\/");
    if (last == std::string::npos) return ".\\";
    return input.substr(0, last + 1);
}

std::vector<std::string> search_directories(const run_options& options) {
    const std::string base = base_folder(options.input);
    std::vector<std::string> directories = {base, base + "p\\", base + "s\\"};
    for (std::string folder : options.library_folders) {
        if (folder.back() != '\\') folder += '\\';
        for (const char* below :
             {"p\\", "parts\\", "parts\\s\\", "Unofficial\\p\\", "Unofficial\\parts\\", "Unofficial\\parts\\s\\"}) {
            directories.push_back(folder + below);
        }
    }
    return directories;
}

}  // namespace weldrix
