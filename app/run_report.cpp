#include "app/run_report.hpp"

#include "app/folder_walk.hpp"
#include "io/console.hpp"

namespace weldrix {
namespace {

// Whether the report is one of the run's files under any name (the command line refuses a report
// named exactly like the input or output before anything runs; this is the check by the files
// themselves). The real paths are taken now: an output made by the run has one only now.
bool names_a_run_file(file_system& fs, const std::string& report, const file_paths& run,
                      const std::vector<std::string>* below) {
    const file_paths report_path(report, {});
    const std::string& name = report_path.input_real_or_name(fs);
    if (!below) return name == run.input_real_or_name(fs) || name == run.output_real_or_name(fs);
    // A folder that no longer resolves has no real path: no file of the run is reached through it.
    for (const std::string& relative : *below) {
        if (name == joined(run.output_real(fs), relative) || name == joined(run.input_real(fs), relative)) return true;
    }
    return false;
}

}  // namespace

run_report::run_report(const run_environment& env, const std::string& name)
    : env_(env),
      name_(name),
      writer_(name == "-" ? std::make_unique<report_writer>(env.out, env.interrupted)
                          : std::make_unique<report_writer>(env.files, name, env.interrupted)) {}

run_report::end run_report::write_out(const std::string& input, const std::string& output,
                                      const std::vector<std::string>* below, bool output_written,
                                      std::unique_ptr<file_report> last) {
    console& out = env_.out;
    out.line();
    bool refused = false;
    if (name_ != "-") {
        out.line("Writing report file " + printable(name_));
        refused = names_a_run_file(env_.files, name_, file_paths(input, output), below);
    }
    if (!refused && last) writer_->add(std::move(*last));
    if (!refused && writer_->finish()) return end::written;
    // A report cut short by a stop (a FIFO that nobody reads, a pipe that is not read) is no
    // failure of the report: the run ends as every interrupted run does.
    if (!refused && env_.interrupted && env_.interrupted->load()) {
        out.line("Interrupted: " + printable(name_) + " was not written");
        return end::interrupted;
    }
    const char* const which = below ? ": it is an input or output file" : ": it is the input or output file";
    out.line(printable(name_) + " Can't create" + (refused ? which : "") +
             (output_written ? " (the output file was written)" : ""));
    return end::failed;
}

}  // namespace weldrix
