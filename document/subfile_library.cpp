#include "document/subfile_library.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "document/line_reader.hpp"
#include "io/files.hpp"

namespace weldrix {

subfile_library::subfile_library(file_system& fs, std::size_t memory_budget, bool every_line)
    : fs_(fs), budget_(memory_budget), every_line_(every_line), resolver_(fs), real_paths_(fs) {}

std::optional<std::string> subfile_library::resolve(std::string_view candidate) {
    std::string key(candidate);
    {
        const std::shared_lock<std::shared_mutex> lock(candidates_mutex_);
        const auto found = candidates_.find(key);
        if (found != candidates_.end()) return found->second;
    }
    std::optional<std::string> host = resolver_.resolve(candidate);
    const std::unique_lock<std::shared_mutex> lock(candidates_mutex_);
    return candidates_.emplace(std::move(key), std::move(host)).first->second;
}

std::uint32_t subfile_library::interned::id(std::string_view text) {
    {
        const std::shared_lock<std::shared_mutex> lock(mutex_);
        const auto found = ids_.find(text);
        if (found != ids_.end()) return found->second;
    }
    const std::unique_lock<std::shared_mutex> lock(mutex_);
    return ids_.try_emplace(std::string(text), static_cast<std::uint32_t>(ids_.size())).first->second;
}

std::uint32_t subfile_library::name_id(std::string_view name) { return names_.id(name); }

std::uint32_t subfile_library::identity_id(std::string_view identity) { return identities_.id(identity); }

std::uint32_t subfile_library::search_list(std::uint32_t list, std::string_view directory) {
    std::string key(sizeof list, '\0');
    std::memcpy(key.data(), &list, sizeof list);
    key += directory;
    const std::lock_guard<std::mutex> lock(lists_mutex_);
    return lists_.try_emplace(std::move(key), static_cast<std::uint32_t>(lists_.size() + 1)).first->second;
}

namespace {

std::uint64_t keyed_by_list(std::uint32_t list, std::uint32_t name) { return (std::uint64_t{list} << 32) | name; }

}  // namespace

subfile_library::lookup subfile_library::found_before(std::uint32_t list, std::uint32_t name) {
    lookup answer;
    const std::shared_lock<std::shared_mutex> lock(found_mutex_);
    const auto found = found_.find(keyed_by_list(list, name));
    if (found == found_.end()) return answer;
    if (!found->second.host) {
        answer.is = lookup::state::not_found;
        return answer;
    }
    answer.is = lookup::state::found;
    // The slot was remembered after its file loaded: its result is set for good.
    if (const std::shared_ptr<slot> s = found->second.file.lock()) {
        s->last_use.store(++clock_, std::memory_order_relaxed);
        answer.file = s->result;
    } else {
        answer.host = *found->second.host;
    }
    return answer;
}

void subfile_library::remember(std::uint32_t list, std::uint32_t name, std::optional<std::string> host) {
    found_entry entry;
    if (host) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (const auto s = slots_.find(*host); s != slots_.end() && s->second->size > 0) entry.file = s->second;
    }
    entry.host = std::move(host);
    const std::unique_lock<std::shared_mutex> lock(found_mutex_);
    found_.insert_or_assign(keyed_by_list(list, name), std::move(entry));
}

std::optional<subfile_library::loaded> subfile_library::load(const std::string& host_path) {
    std::shared_ptr<slot> s;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::shared_ptr<slot>& found = slots_[host_path];
        if (!found) found = std::make_shared<slot>();
        s = found;
    }
    s->last_use.store(++clock_, std::memory_order_relaxed);
    std::size_t size = 0;
    std::call_once(s->once, [&] {
        const std::string real = real_paths_.of(host_path);
        std::shared_ptr<const parsed_file> file;
        if (!real.empty()) {
            const std::lock_guard<std::mutex> lock(mutex_);
            loading_.insert(real);
            if (const auto found = lent_.find(real); found != lent_.end()) {
                file = std::move(found->second);
                lent_.erase(found);
                cached_ -= file->memory_estimate();  // counted again as the slot's below
            }
        }
        if (!file) {
            std::string bytes;
            if (!read_regular_file(fs_, host_path, bytes) || !is_text(bytes)) return;
            file = named(parsed_file::parse(bytes, every_line_));
        }
        size = file->memory_estimate();
        s->result = loaded{identity_id(real.empty() ? host_path : real), std::move(file)};
        ++parsed_;
    });
    if (size > 0) {
        // Counted only now, under the lock, so that no one drops it before it is counted.
        const std::lock_guard<std::mutex> lock(mutex_);
        s->size = size;
        cached_ += size;
        if (cached_ > budget_) keep_within_budget();
    }
    return s->result;
}

std::shared_ptr<const parsed_file> subfile_library::named(parsed_file parsed) {
    parsed.reference_name_ids.reserve(parsed.references.size());
    for (std::size_t k = 0; k < parsed.references.size(); ++k)
        parsed.reference_name_ids.push_back(name_id(parsed.reference_name(k)));
    return std::make_shared<const parsed_file>(std::move(parsed));
}

void subfile_library::lend(const std::string& real_path, const std::vector<std::unique_ptr<ldraw_line>>& lines,
                           const std::vector<std::size_t>& line_numbers) {
    const auto wanted = [&] {
        return !loading_.contains(real_path) && !lent_.contains(real_path) && cached_ < budget_;
    };
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!wanted()) return;
    }
    std::shared_ptr<const parsed_file> file =
        named(parsed_file::copy(lines, 0, lines.size(), line_numbers, every_line_));
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!wanted()) return;  // loaded, or lent, while it was copied
    cached_ += file->memory_estimate();
    lent_.emplace(real_path, std::move(file));
}

// Drops the least recently used files until the cache holds three quarters of the budget, so that
// the sort is not repeated for every file read. Called with the mutex held.
void subfile_library::keep_within_budget() {
    std::vector<std::pair<std::uint64_t, std::string>> by_use;
    by_use.reserve(slots_.size());
    for (const auto& [path, s] : slots_) {
        if (s->size > 0) by_use.emplace_back(s->last_use.load(std::memory_order_relaxed), path);
    }
    std::sort(by_use.begin(), by_use.end());
    // Parses lent and not taken go first: they only spare a reading.
    for (const auto& [path, file] : lent_) cached_ -= file->memory_estimate();
    lent_.clear();
    for (const auto& [use, path] : by_use) {
        if (cached_ <= budget_ / 4 * 3) break;
        const auto found = slots_.find(path);
        cached_ -= found->second->size;
        slots_.erase(found);
    }
}

}  // namespace weldrix
