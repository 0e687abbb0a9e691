#include "app/report.hpp"

#include "app/report_writer.hpp"
#include "io/files.hpp"

namespace weldrix {
namespace {

std::string whole_report(report_form form, const std::vector<file_report>& files) {
    std::string text;
    report_writer writer(form, text);
    for (const file_report& file : files) writer.add(file);
    writer.finish();
    return text;
}

}  // namespace

report_form report_form_of(std::string_view name) {
    const auto ends_with = [&](std::string_view suffix) {
        if (name.size() < suffix.size()) return false;
        for (std::size_t k = 0; k < suffix.size(); ++k) {
            char c = name[name.size() - suffix.size() + k];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != suffix[k]) return false;
        }
        return true;
    };
    if (ends_with(".html") || ends_with(".htm")) return report_form::html;
    if (ends_with(".json")) return report_form::json;
    return report_form::text;
}

std::string report_text(const std::vector<file_report>& files) { return whole_report(report_form::text, files); }
std::string report_json(const std::vector<file_report>& files) { return whole_report(report_form::json, files); }
std::string report_html(const std::vector<file_report>& files) { return whole_report(report_form::html, files); }

bool report_names_a_run_file(file_system& fs, const std::string& report, const std::string& input,
                             const std::string& output, const std::vector<std::string>* below) {
    const std::string report_path = real_path_or_name(fs, report);
    if (!below) return report_path == real_path_or_name(fs, input) || report_path == real_path_or_name(fs, output);
    std::string in_real, out_real;
    // Left empty when a folder no longer resolves: no file of the run can be reached through it.
    static_cast<void>(repeat_interrupted([&] { return fs.real_path(input, in_real); }));
    static_cast<void>(repeat_interrupted([&] { return fs.real_path(output, out_real); }));
    const auto joined = [](const std::string& folder, const std::string& name) {
        if (folder.empty()) return name;
        return folder.back() == '/' || folder.back() == '\\' ? folder + name : folder + "/" + name;
    };
    for (const std::string& relative : *below) {
        if (report_path == joined(out_real, relative) || report_path == joined(in_real, relative)) return true;
    }
    return false;
}

bool write_report(file_system& fs, const std::string& name, const std::vector<file_report>& files) {
    report_writer writer(fs, name);
    for (const file_report& file : files) writer.add(file);
    return writer.finish();
}

}  // namespace weldrix
