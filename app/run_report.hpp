// The change report of a run (-r), the same for a single file and a batch: made when the run
// starts, given each file's record in input order, and written out once, after everything else
// the run prints.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/file_job.hpp"
#include "app/report.hpp"
#include "app/report_writer.hpp"
#include "app/run.hpp"

namespace weldrix {

class run_report {
public:
    // The report named by name: a file, written next to its place as the records come (see
    // report_writer.hpp), or "-", the text form printed on standard output at the end.
    run_report(const run_environment& env, const std::string& name);

    // The next file's record, in input order.
    void add(file_report record) { writer_->add(std::move(record)); }

    enum class end : std::uint8_t {
        written,
        failed,       // "NAME Can't create" and why was printed
        interrupted,  // "Interrupted: NAME was not written" was printed; the run ends with 130
    };
    // Writes the report out: an empty line, "Writing report file NAME" (not for "-"), then the
    // report, after last (a single file's record, added only once the report is known not to be
    // one of the run's files). The report may not replace one of the run's files under any name
    // (a link, "./"), compared by real path as the files are now that the outputs are written:
    // the input or the output, or with below (a batch: the files' paths relative to the input and
    // output folders) any file of the run. Failed when it is not written, or not printed whole on
    // standard output ("-"), with "NAME Can't create" and why; output_written adds that the output
    // was written all the same. A FIFO is waited for until the run is told to stop (env's
    // interrupted flag), and every write of the report gives up then: interrupted.
    [[nodiscard]] end write_out(const std::string& input, const std::string& output,
                                const std::vector<std::string>* below, bool output_written,
                                std::unique_ptr<file_report> last = nullptr);

private:
    const run_environment& env_;
    const std::string name_;
    std::unique_ptr<report_writer> writer_;
};

}  // namespace weldrix
