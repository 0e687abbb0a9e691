// The subfiles a run reads: found, read and parsed once, and shared between the documents of a
// run and the threads that clean them.
//
// Everything here is safe to use from several threads at once. A parsed file is immutable and
// handed out as a shared pointer, so it stays alive for whoever holds it.
//
// Memory is bounded: the parsed files are kept while their estimated size (parsed_file::
// memory_estimate) stays within the budget; beyond it, the files used least recently are dropped
// from the cache (documents still using one keep it) and read again should they be needed again.
// A file read again gives the same lines, so what is cleaned never depends on the cache.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "document/parsed_file.hpp"
#include "io/file_system.hpp"
#include "io/host_paths.hpp"
#include "io/real_paths.hpp"

namespace weldrix {

class subfile_library {
public:
    // More than the referenced files of the whole official LDraw library take parsed, so that a
    // batch over it parses each once.
    static constexpr std::size_t default_memory_budget = std::size_t{512} << 20;

    // every_line: each file keeps every line's element (parsed_file::every_line), which only an
    // observer of the placed lines needs; a batch without a page keeps the references only.
    explicit subfile_library(file_system& fs, std::size_t memory_budget = default_memory_budget,
                             bool every_line = true);
    subfile_library(const subfile_library&) = delete;
    subfile_library& operator=(const subfile_library&) = delete;

    file_system& files() const { return fs_; }

    // The host path a composed candidate ("lib\parts\s\x.dat") names, or nothing; each candidate
    // is looked up once (the files a run reads do not come and go while it runs).
    [[nodiscard]] std::optional<std::string> resolve(std::string_view candidate);

    // Names and identities are interned for the run: equal texts (byte for byte) get one id,
    // whichever thread asks, so that documents compare and look up numbers instead of strings. A
    // file's identity is its canonical path (or, for a section of a document, section_identity).
    [[nodiscard]] std::uint32_t name_id(std::string_view name);
    [[nodiscard]] std::uint32_t identity_id(std::string_view identity);

    struct loaded {
        std::uint32_t identity = 0;  // identity_id of the canonical path
        // Its reference_name_ids are set: the name_id of each reference's name.
        std::shared_ptr<const parsed_file> file;
    };
    // The regular file of LDraw text at host_path, read and parsed once while it stays cached;
    // nothing when it cannot be read or is not text.
    [[nodiscard]] std::optional<loaded> load(const std::string& host_path);

    // Search lists are interned: a list is the id of its last directory added to the list before
    // it (no_directories for the empty list), so that equal lists, one per document of a batch,
    // share the lookups below. Directories are compared byte for byte.
    static constexpr std::uint32_t no_directories = 0;
    [[nodiscard]] std::uint32_t search_list(std::uint32_t list, std::string_view directory);

    // What a name (by name_id) found along a search list, as remember gave it: the host path of
    // the first candidate that loaded, or nothing when none did. Every candidate's host path is
    // looked up once and a file that fails to load keeps failing (only loaded files leave the
    // cache), so the answer stays true for the run. While the file found is cached, the answer
    // comes with it, and no path is looked up again.
    struct lookup {
        enum class state { not_looked_up, not_found, found } is = state::not_looked_up;
        std::optional<loaded> file;  // found and still cached
        std::string host;            // found, and no longer cached: to load again
    };
    [[nodiscard]] lookup found_before(std::uint32_t list, std::uint32_t name);
    // host was loaded last (or nothing was found).
    void remember(std::uint32_t list, std::uint32_t name, std::optional<std::string> host);

    // The lines of the file at real_path (its canonical path) as make_line gave them for a text,
    // with their line numbers: a batch that read the file as an input lends its parse, so that a
    // later load of the file takes it instead of reading and parsing the file again. It gives what
    // the load would give for those bytes. Nothing is kept when the file was loaded, or lent,
    // already, or when the cache is full.
    void lend(const std::string& real_path, const std::vector<std::unique_ptr<ldraw_line>>& lines,
              const std::vector<std::size_t>& line_numbers);

    // How many files were read and parsed, or lent and taken (a file dropped and read again counts
    // twice).
    std::size_t files_parsed() const { return parsed_.load(); }

private:
    struct slot {
        std::once_flag once;
        std::optional<loaded> result;
        std::size_t size = 0;
        std::atomic<std::uint64_t> last_use{0};
    };
    struct found_entry {
        std::optional<std::string> host;
        std::weak_ptr<slot> file;  // the slot host loaded into, while it is cached
    };
    // Texts interned: a text's id is its place in the order first asked for.
    class interned {
    public:
        std::uint32_t id(std::string_view text);

    private:
        struct hash {
            using is_transparent = void;
            std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
        };
        std::shared_mutex mutex_;
        std::unordered_map<std::string, std::uint32_t, hash, std::equal_to<>> ids_;
    };
    void keep_within_budget();
    // The file, its references' names interned.
    std::shared_ptr<const parsed_file> named(parsed_file parsed);

    file_system& fs_;
    const std::size_t budget_;
    const bool every_line_;
    host_path_resolver resolver_;
    real_paths real_paths_;               // the canonical paths of the files loaded
    std::shared_mutex candidates_mutex_;  // guards candidates_
    std::unordered_map<std::string, std::optional<std::string>> candidates_;
    std::mutex lists_mutex_;                                // guards lists_
    std::unordered_map<std::string, std::uint32_t> lists_;  // by the list's id and the directory
    interned names_;
    interned identities_;
    std::shared_mutex found_mutex_;  // guards found_
    // By the list's id (high half) and the name's: the host path found, if any.
    std::unordered_map<std::uint64_t, found_entry> found_;
    std::mutex mutex_;  // guards slots_ and cached_
    std::unordered_map<std::string, std::shared_ptr<slot>> slots_;
    std::unordered_set<std::string> loading_;  // the real paths of every file a load has started on
    // Parses lent and not yet taken, by real path (each counted in cached_).
    std::unordered_map<std::string, std::shared_ptr<const parsed_file>> lent_;
    std::size_t cached_ = 0;  // sum of the sizes of the loaded slots and the parses lent
    std::atomic<std::uint64_t> clock_{0};
    std::atomic<std::size_t> parsed_{0};
};

}  // namespace weldrix
