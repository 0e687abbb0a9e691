#include "app/run.hpp"

#include <new>

#include "app/batch.hpp"
#include "app/folder_walk.hpp"
#include "app/help.hpp"
#include "app/options.hpp"
#include "app/single_file.hpp"
#include "app/wording.hpp"
#include "document/search_paths.hpp"
#include "io/files.hpp"

namespace weldrix {

int finisher::operator()(int code) const {
    if (!wait_) return code;
    env_.out.line("Press <Enter> to quit");
    env_.wait_for_enter();
    return code;
}

namespace {

// The run sequence; wait tells, once the options are known, whether the run ends with the wait.
int run_sequence(const std::vector<std::string>& args, const run_environment& env, bool& wait) {
    console& out = env.out;
    const command_line command = parse_command_line(args);
    wait = command.options.wait_for_enter && !env.no_wait;
    if (command.requested == command_line::action::version) {
        out.line(version_line());
        return exit_success;
    }
    print_banner(out);
    if (command.requested == command_line::action::help) {
        print_help(out);
        return exit_success;
    }
    for (const std::string& warning : command.warnings) warn(env.warnings, warning);
    const finisher finish(env, wait);
    if (command.requested == command_line::action::usage_error) {
        error(env.warnings, command.usage_error);
        print_usage(out);
        return finish(exit_usage);
    }
    const run_options& options = command.options;
    const file_paths run_paths(options.input, options.output);
    if (const std::string refused = batch_usage_error(options, env.files, run_paths); !refused.empty()) {
        error(env.warnings, refused);
        print_usage(out);
        return finish(exit_usage);
    }
    search_paths paths(env.files);
    for (const std::string& directory : search_directories(options)) paths.add_path(directory);
    // The warnings of the whole run: with --strict, each withholds every output.
    std::vector<std::string> run_warnings = command.warnings;
    for (std::string& warning : library_folder_warnings(options, paths.library())) {
        warn(env.warnings, warning);
        run_warnings.push_back(std::move(warning));
    }
    const std::string run_warning = run_warnings.empty() ? std::string() : run_warnings.front();

    file_status input_status;
    if (repeat_interrupted([&] { return env.files.status(options.input, input_status); }) == 0 &&
        input_status.kind == file_kind::folder) {
        const int code = run_batch(options, env, run_warning, run_paths);
        return code == exit_interrupted ? code : finish(code);
    }
    return run_single_file(options, run_paths, paths, env, finish, run_warning);
}

}  // namespace

int run(const std::vector<std::string>& args, const run_environment& env) {
    bool wait = !env.no_wait;
    try {
        return run_sequence(args, env, wait);
    } catch (const std::bad_alloc&) {
        // Memory can run out at any step. Like every other way out, this one ends with the wait
        // for Enter.
        env.out.line("Out of memory");
        return finisher(env, wait)(exit_file_error);
    } catch (const read_failure& failure) {
        // A subfile (or a folder searched for one) is there, but the host failed to read it: going
        // on without it would weld the part against a library that is missing files by chance.
        env.out.line(printable(failure.path()) + " can't be read");
        return finisher(env, wait)(exit_file_error);
    }
}

int run(const std::vector<std::string>& args, console& out, const std::function<void()>& wait_for_enter,
        file_system& fs) {
    string_console discarded;
    return run(args, run_environment{out, discarded, wait_for_enter, fs});
}

}  // namespace weldrix
