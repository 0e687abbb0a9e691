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

bool write_report(file_system& fs, const std::string& name, const std::vector<file_report>& files) {
    report_writer writer(fs, name);
    for (const file_report& file : files) writer.add(file);
    return writer.finish();
}

}  // namespace weldrix
