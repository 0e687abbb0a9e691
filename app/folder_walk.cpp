#include "app/folder_walk.hpp"

#include <algorithm>
#include <cerrno>

#include "io/ascii.hpp"
#include "io/files.hpp"

namespace weldrix {
namespace {

void walk(file_system& fs, const std::string& root, const std::string& relative, const std::string& skip_folder,
          std::vector<std::string>& found, std::vector<std::string>& unreadable) {
    std::vector<folder_entry> entries;
    const std::string folder = relative.empty() ? root : joined(root, relative);
    if (const int error = repeat_interrupted([&] { return fs.list_folder(folder, entries); })) {
        // Its files would go uncleaned without a word. A folder that went away since its parent
        // was listed held nothing.
        if (error != ENOENT && error != ENOTDIR) unreadable.push_back(relative.empty() ? "." : relative);
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const folder_entry& a, const folder_entry& b) { return a.name < b.name; });
    for (const folder_entry& entry : entries) {
        if (entry.name.empty() || entry.name[0] == '.') continue;  // hidden folders and files, "." and ".."
        const std::string rel = relative.empty() ? entry.name : relative + "/" + entry.name;
        file_kind kind = entry.kind;
        if (kind == file_kind::link || kind == file_kind::other) {
            // A link counts when it leads to a file; a link to a folder is not followed.
            file_status st;
            const int error = repeat_interrupted([&] { return fs.status(joined(root, rel), st); });
            if (error != 0 && has_ldraw_extension(entry.name)) {
                unreadable.push_back(rel);
                continue;
            }
            kind = error == 0 && st.kind == file_kind::regular ? file_kind::regular : file_kind::other;
        }
        if (kind == file_kind::folder) {
            std::string real;
            if (!skip_folder.empty() &&
                repeat_interrupted([&] { return fs.real_path(joined(root, rel), real); }) == 0 && real == skip_folder)
                continue;
            walk(fs, root, rel, skip_folder, found, unreadable);
        } else if (kind == file_kind::regular && has_ldraw_extension(entry.name)) {
            found.push_back(rel);
        }
    }
}

}  // namespace

bool has_ldraw_extension(const std::string& name) {
    return ends_with_ignoring_ascii_case(name, ".dat") || ends_with_ignoring_ascii_case(name, ".ldr") ||
           ends_with_ignoring_ascii_case(name, ".mpd");
}

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' || folder.back() == '\\' ? folder + name : folder + "/" + name;
}

std::vector<std::string> batch_inputs(file_system& fs, const std::string& in_folder, const std::string& skip_folder,
                                      std::vector<std::string>* unreadable) {
    std::vector<std::string> found, not_read;
    walk(fs, in_folder, {}, skip_folder, found, unreadable ? *unreadable : not_read);
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<std::size_t> batch_order(const std::vector<std::string>& inputs) {
    std::vector<std::size_t> depth(inputs.size()), order(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        depth[i] = static_cast<std::size_t>(std::count(inputs[i].begin(), inputs[i].end(), '/'));
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return depth[a] > depth[b]; });
    return order;
}

bool lies_below(const file_system& fs, const std::string& path, const std::string& folder) {
    if (folder.empty() || path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) return false;
    const auto separator = [&](char c) { return c == '/' || (c == '\\' && fs.names_ignore_case()); };
    return separator(folder.back()) || separator(path[folder.size()]);
}

std::string real_place(file_system& fs, const std::string& path) {
    std::string real;
    if (repeat_interrupted([&] { return fs.real_path(path, real); }) == 0) return real;
    const std::size_t slash = path.find_last_of(fs.names_ignore_case() ? "/\\" : "/");
    if (slash == std::string::npos) {
        // A name in the current folder.
        if (repeat_interrupted([&] { return fs.real_path(".", real); }) != 0) return {};
        return joined(real, path);
    }
    if (slash == 0) return path;  // below the root, which is there
    const std::string folder = real_place(fs, path.substr(0, slash));
    return folder.empty() ? std::string() : joined(folder, path.substr(slash + 1));
}

void make_folders(file_system& fs, const std::string& path) {
    const char* const ends = fs.names_ignore_case() ? "/\\" : "/";
    for (std::size_t slash = path.find_first_of(ends, 1); slash != std::string::npos;
         slash = path.find_first_of(ends, slash + 1)) {
        // An existing folder is no error, and any other failure shows when a file is written there.
        static_cast<void>(repeat_interrupted([&] { return fs.make_folder(path.substr(0, slash)); }));
    }
}

std::string batch_usage_error(const run_options& options, file_system& fs, const file_paths& folders) {
    file_status st;
    if (options.check_only || repeat_interrupted([&] { return fs.status(options.input, st); }) != 0 ||
        st.kind != file_kind::folder)
        return {};
    const std::string& in_real = folders.input_real(fs);
    if (in_real.empty()) return {};
    const std::string& out_real = folders.output_real(fs);
    if (!out_real.empty() && lies_below(fs, in_real, out_real)) {
        return "the input folder " + options.input + " lies inside the output folder " + options.output +
               ": its files would be replaced by other files' outputs";
    }
    const std::string out_place = out_real.empty() ? real_place(fs, options.output) : out_real;
    if (lies_below(fs, out_place, in_real)) {
        return "the output folder " + options.output + " lies inside the input folder " + options.input +
               ": its files would be replaced by the outputs of the files above it";
    }
    return {};
}

bool lock_output_folder(file_system& fs, const std::string& folder, std::unique_ptr<file_system::folder_lock>& lock) {
    make_folders(fs, folder + "/");
    return repeat_interrupted([&] { return fs.lock_folder(folder, lock); }) != EWOULDBLOCK;
}

}  // namespace weldrix
