// The progress lines of a single-file run ("Reading input file ...", the statistics, the search
// locations, "Expanding ...", "Unifying ..."): the observer of the file's job, printed between its
// steps.
#pragma once

#include <string>
#include <vector>

#include "app/file_job.hpp"
#include "app/options.hpp"
#include "app/run.hpp"

namespace weldrix {

class single_file_console final : public job_observer {
public:
    single_file_console(const run_environment& env, const run_options& options) : env_(env), options_(options) {}
    console& statistics() override { return env_.out; }
    // The run stops between the steps when it is interrupted.
    const std::atomic<bool>* stop() const override { return env_.interrupted; }
    void reading(const std::string& input) override;
    void expanding(const search_paths& paths) override;
    // Warns of each subfile not found.
    void expanded(const std::vector<missing_subfile>& missing) override;
    void unifying() override;
    void unified() override;
    void writing() override;

private:
    const run_environment& env_;
    const run_options& options_;
};

}  // namespace weldrix
