// Subfile expansion: inlining, at every depth, the files the document references.
//
// The result is the one of the straightforward algorithm, a single loop over a growing element
// list in which every subfile reference appends the placed lines of its file behind everything
// already there, level after level. What is kept of that list is what later steps need:
//   * the vertices of inlined edges, triangles and quads go into the snap target set, in
//     inlining order (the set keeps the first of any vertices closer than 0.001, so this is the
//     set unification would build from the full list); with needed_only, through a snap_region,
//     which keeps of that set what the unit's snaps can reach;
//   * the references still to expand, kept per inlined copy of a file (one entry holds the
//     placement of the copy; its references are placed when the loop reaches them), so a library
//     that fans out costs memory per copy rather than per reference.
// Placement: each inlined line is inverted when its reversal sign is -1 (triangles and quads),
// then transformed by the reference's matrix, translated by its offset, and given the reference's
// colour when its own colour is 16 or 24. A nested reference thus carries the composed matrix
// (outermost on the left) and offsets of all its ancestors, and as its winding the INVERTNEXT
// signs of all of them; the reversal sign adds the sign of its matrix's determinant.
//
// Each distinct file (by canonical path) is read and parsed once and reused for every further
// reference; results, order and counts are those of re-reading it each time. A reference whose
// file is already on its own chain of ancestors (the input file is the root of every chain) is
// skipped like a missing file, with one message per distinct name. Inlining stops for good after
// the options' max_inlined_lines lines, with one message.
//
// A parsed file keeps the vertices of its edges, triangles and quads apart, so a copy places them
// without making elements. Most vertices of a library primitive are shared by several of its
// lines; a vertex equal, bit for bit, to a vertex of an earlier line of the same file is not
// offered to the snap target set again when its placed position is finite. Placing it gives the
// same bits as that earlier vertex, which on its turn either merged into a subfile representative
// closer than 0.001 or made its own; subfile representatives never move, and later ones come after
// it in creation order, so the first representative in range is still that one, and merging into
// a subfile representative changes nothing. (A non-finite position is always offered, as every
// such vertex makes a representative of its own.)
#include "document/subfile_expansion.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "document/line_reader.hpp"
#include "document/search_paths.hpp"
#include "elements/comment_line.hpp"
#include "elements/subfile_line.hpp"
#include "geometry/placement.hpp"
#include "geometry/snap_region.hpp"
#include "geometry/vertex_set.hpp"
#include "io/ascii.hpp"
#include "io/console.hpp"

namespace weldrix {
namespace {

constexpr std::uint32_t none = UINT32_MAX;

bool is_filled(line_type type) { return type == line_type::triangle || type == line_type::quad; }

// A file as one document uses it: the shared parse, and the document's ids of the names its
// references use.
struct local_file {
    std::shared_ptr<const parsed_file> parsed;   // null until found and read
    std::vector<std::uint32_t> reference_names;  // parallel to parsed->references
    // The chain nodes of the unit being expanded whose file this is; valid when chain_unit is the
    // expansion's current unit.
    std::vector<std::uint32_t> chain_nodes;
    std::uint32_t chain_unit = 0;
    bool section = false;  // a section of the document: its lines are the document's
};

// A reference in the main file's space, about to be expanded.
struct reference {
    placement place;
    line_colour colour;
    std::int32_t winding;
    bool after_invertnext;  // the element before it is a BFC INVERTNEXT comment
    std::uint32_t chain;    // its chain of ancestor files
    std::uint32_t name;
    std::uint32_t from;  // the name of the file that holds it, none for the document (its site)
    std::uint32_t line;  // its line in that file, 0 when not known
};

// The references of one inlined copy of a file, not yet expanded.
struct pending_copy {
    placement place;  // placement of the copy
    line_colour colour;
    std::int32_t passed_sign;     // winding of the copy's references
    bool first_after_invertnext;  // the element before the copy's first line is an INVERTNEXT
    std::uint32_t file;
    std::uint32_t chain;  // chain of the copy's references: its ancestors and its own file
    std::uint32_t from;   // the name the copy's file was referenced by, none for a section
};

}  // namespace

class subfile_expansion::expansion {
public:
    expansion(const search_paths& paths, std::size_t max_inlined_lines, console& out, const inline_observer& observer,
              const std::atomic<bool>* stop)
        : paths_(paths), max_inlined_lines_(max_inlined_lines), out_(out), observer_(observer), stop_(stop) {}

    // Sections are found by name (ASCII case-insensitive, "\" and "/" alike) before the search
    // list; each is a file of its own, named by its position in the document.
    void add_section(std::string_view name, const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin,
                     std::size_t end, const std::string& document_name, const std::vector<std::size_t>& line_numbers) {
        const auto [section, added] = section_files_.try_emplace(section_identity(document_name, begin),
                                                                 static_cast<std::uint32_t>(files_.size()));
        if (added) files_.emplace_back();
        const std::uint32_t file = section->second;
        sections_.try_emplace(section_key(name), file);
        parsed_file parsed = parsed_file::copy(elements, begin, end, line_numbers);
        for (std::size_t k = 0; k < parsed.references.size(); ++k)
            parsed.reference_name_ids.push_back(paths_.library().name_id(parsed.reference_name(k)));
        use(file, std::make_shared<const parsed_file>(std::move(parsed)));
        files_[file].section = true;
    }

    void run(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin, std::size_t end,
             const std::string& root_name, vertex_set& targets, std::vector<std::uint32_t>* origins,
             std::vector<std::string>* origin_names, const std::vector<std::size_t>& line_numbers, bool needed_only) {
        targets_ = &targets;
        origins_ = origin_names ? origins : nullptr;
        origin_names_ = origin_names;
        region_.reset();
        if (needed_only && snap_region::applies(targets.thresholds())) {
            std::size_t vertices = 0;
            for (std::size_t i = begin; i < end; ++i) vertices += elements[i]->vertices().size();
            region_.emplace(targets.thresholds(), vertices);
            for (std::size_t i = begin; i < end; ++i) {
                for (const point& p : elements[i]->vertices()) region_->cover(p);
            }
        }
        start_chains();
        const auto section = section_files_.find(root_name);
        const std::uint32_t root = chain_child(
            none, section != section_files_.end() ? section->second : file_id(paths_.library().identity_id(root_name)));
        // The first inlined line follows the unit's own last line.
        last_was_invertnext_ = end > begin && is_invertnext(*elements[end - 1]);
        // References in a row mostly name one file (a row of studs): the name is looked up once.
        const std::string* last_name = nullptr;
        std::uint32_t last_id = none;
        for (std::size_t i = begin; i < end && !stopped_; ++i) {
            if (elements[i]->type_code() != line_type::subfile) continue;
            const auto& line = static_cast<const subfile_line&>(*elements[i]);
            if (!last_name || *last_name != line.file_name)
                last_id = name_id(paths_.library().name_id(line.file_name), line.file_name);
            last_name = &line.file_name;
            expand({{line.orientation, line.position},
                    line.colour(),
                    line.winding,
                    i > begin && is_invertnext(*elements[i - 1]),
                    root,
                    last_id,
                    none,
                    i < line_numbers.size() ? static_cast<std::uint32_t>(line_numbers[i]) : 0});
        }
        while (!pending_.empty() && !stopped_) {
            const pending_copy copy = pending_.front();
            pending_.pop_front();
            const local_file& local = files_[copy.file];
            const parsed_file& file = *local.parsed;
            for (std::size_t k = 0; k < file.references.size() && !stopped_; ++k) {
                const std::uint32_t at = file.references[k];
                expand(place_reference(static_cast<const subfile_line&>(file.reference(k)), copy,
                                       at == 0 ? copy.first_after_invertnext : file.invertnext[at - 1],
                                       local.reference_names[k], file.reference_lines[k]));
            }
        }
        if (region_) fill_from_region(false);
        region_.reset();
    }

    std::vector<missing_subfile> missing() const {
        std::vector<missing_subfile> result;
        for (std::uint32_t name = 0; name < names_.size(); ++name) {
            if (skipped_[name] == 0) continue;
            const auto why =
                climbs_out(names_[name]) ? missing_subfile::reason::climbs_out : missing_subfile::reason::not_found;
            result.push_back({names_[name], skipped_[name], why, site(first_skipped_[name])});
        }
        return result;
    }

    const std::vector<skipped_reference>& cycles() const { return cycles_; }
    const std::optional<skipped_reference>& limit_reached() const { return limit_reached_; }

    void print_statistics() const {
        out_.line();
        out_.line("Inlined from subfiles:");
        out_.count_line(edges_, " Edge lines");
        out_.count_line(conditionals_, " Conditional lines");
        out_.count_line(triangles_, " Triangles");
        out_.count_line(quads_, " Quads");
    }

private:
    static reference place_reference(const subfile_line& line, const pending_copy& copy, bool after_invertnext,
                                     std::uint32_t name, std::uint32_t line_number) {
        return {copy.place.compose({line.orientation, line.position}),
                line.colour_value.inherited() ? copy.colour : line.colour_value,
                copy.passed_sign,
                after_invertnext,
                copy.chain,
                name,
                copy.from,
                line_number};
    }

    // Where a reference is, by the name of the file that holds it and its line.
    struct site_ids {
        std::uint32_t from = none;
        std::uint32_t line = 0;
    };
    reference_site site(const site_ids& at) const {
        return {at.from == none ? std::string() : names_[at.from], at.line};
    }

    // Inlines the file of one reference: each of its lines is counted, placed and offered as snap
    // targets, and the copy is queued when the file holds references of its own.
    void expand(const reference& ref) {
        if (stop_ && stop_->load(std::memory_order_relaxed)) {
            stopped_ = true;
            pending_.clear();
            return;
        }
        const std::uint32_t file = resolve(ref.name);
        if (file == none) {
            if (skipped_[ref.name]++ == 0) first_skipped_[ref.name] = {ref.from, ref.line};
            return;
        }
        if (on_chain(ref.chain, file)) {
            report_cycle(ref);
            return;
        }
        const std::int32_t passed_sign = ref.after_invertnext ? -ref.winding : ref.winding;
        const std::int32_t reversal_sign = ref.place.orientation.determinant() < 0.0 ? -passed_sign : passed_sign;
        const parsed_file& parsed = *files_[file].parsed;
        const bool first_after_invertnext = last_was_invertnext_;

        const std::size_t lines = parsed.types.size();
        if (!observer_ && max_inlined_lines_ - inlined_ >= lines) {
            // The whole file fits below the limit: its lines are counted at once, and its vertices
            // offered in the order of the loop below.
            inlined_ += lines;
            edges_ += parsed.edges, triangles_ += parsed.triangles, quads_ += parsed.quads;
            conditionals_ += parsed.conditionals;
            if (lines > 0) last_was_invertnext_ = parsed.invertnext[lines - 1];
            offer_all_snap_targets(parsed, ref.place, reversal_sign == -1, ref.name);
        } else {
            for (std::size_t j = 0; j < lines; ++j) {
                if (inlined_ == max_inlined_lines_) {
                    stop(ref);
                    return;
                }
                ++inlined_;
                const line_type type = parsed.types[j];
                count(type);
                if (observer_ && parsed.every_line)
                    observe_placed_line(*parsed.lines[j], ref, passed_sign, reversal_sign);
                offer_snap_targets(parsed, j, ref.place, is_filled(type) && reversal_sign == -1, ref.name);
                last_was_invertnext_ = parsed.invertnext[j];
            }
        }
        if (!parsed.references.empty()) {
            pending_.push_back({ref.place, ref.colour, passed_sign, first_after_invertnext, file,
                                chain_child(ref.chain, file), files_[file].section ? none : ref.name});
        }
    }

    void count(line_type type) {
        switch (type) {
            case line_type::edge: ++edges_; break;
            case line_type::triangle: ++triangles_; break;
            case line_type::quad: ++quads_; break;
            case line_type::conditional: ++conditionals_; break;
            default: break;
        }
    }

    // Places a copy of the line as the straightforward algorithm places the element it appends
    // (inverted, transformed, translated, coloured, its winding set), for the observer.
    void observe_placed_line(const ldraw_line& proto, const reference& ref, std::int32_t passed_sign,
                             std::int32_t reversal_sign) const {
        const line_type type = proto.type_code();
        const auto element = proto.clone();
        if (is_filled(type) && reversal_sign == -1) element->invert();
        element->transform(ref.place.orientation);
        element->translate(ref.place.offset);
        if (type != line_type::comment && element->colour().inherited()) element->set_colour(ref.colour);
        if (type == line_type::subfile) element->winding = passed_sign;
        observer_(*element);
    }

    // The snap targets of line j: its vertices placed as its element would be (inverted,
    // transformed, translated) and offered in element order.
    void offer_snap_targets(const parsed_file& parsed, std::size_t j, const placement& place, bool reverse,
                            std::uint32_t name) {
        const std::uint32_t first = parsed.first_vertex[j];
        const std::uint32_t count = parsed.first_vertex[j + 1] - first;
        for (std::uint32_t k = 0; k < count; ++k) {
            const std::uint32_t at = first + (reverse && k != 1 && k < 3 ? 2 - k : k);  // 1 and 3 swap
            const point p = place.apply(parsed.vertex(at));
            if (parsed.repeated[at] && finite(p)) continue;
            offer(p, name);
        }
    }

    // The snap targets of every line of a copy, as offer_snap_targets offers them line by line
    // (reverse: the copy's filled lines are inverted). A copy whose points are sure to be finite
    // skips the repeated vertices without placing them; one that inverts goes line by line, as
    // inverting reorders a line's vertices.
    void offer_all_snap_targets(const parsed_file& parsed, const placement& place, bool reverse, std::uint32_t name) {
        if (parsed.vertex_count() == 0) return;
        if (!finite_when_placed(parsed, place.orientation, place.offset)) {
            for (std::size_t j = 0; j < parsed.types.size(); ++j)
                offer_snap_targets(parsed, j, place, reverse && is_filled(parsed.types[j]), name);
            return;
        }
        if (!reverse || parsed.triangles + parsed.quads == 0) {
            if (region_) {
                region_->offer_finite(name, [&](auto&& put) {
                    for (const std::uint32_t at : parsed.fresh) put(place.apply(parsed.vertex(at)));
                });
                given_up_beyond_limit();
                return;
            }
            for (const std::uint32_t at : parsed.fresh) offer(place.apply(parsed.vertex(at)), name);
            return;
        }
        for (std::size_t j = 0; j < parsed.types.size(); ++j) {
            const std::uint32_t first = parsed.first_vertex[j];
            const std::uint32_t count = parsed.first_vertex[j + 1] - first;
            const bool inverted = is_filled(parsed.types[j]);
            for (std::uint32_t k = 0; k < count; ++k) {
                const std::uint32_t at = first + (inverted && k != 1 && k < 3 ? 2 - k : k);  // 1 and 3 swap
                if (!parsed.repeated[at]) offer(place.apply(parsed.vertex(at)), name);
            }
        }
    }

    void offer(const point& p, std::uint32_t name) {
        if (region_) {
            region_->offer(p, name);
            given_up_beyond_limit();
            return;
        }
        if (!origins_) {
            targets_->add(p, true);
            return;
        }
        const std::size_t before = targets_->size();
        targets_->add(p, true);
        if (targets_->size() > before) origins_->push_back(origin_of(name));
    }

    // The vertices kept for the region are given up beyond region_limit (24 bytes each, and the
    // same again for a large set of targets): the set is built whole from there on.
    void given_up_beyond_limit() {
        if (region_->offered() < region_limit) return;
        fill_from_region(true);
        region_.reset();
    }

    // The vertices offered to the region so far, added to the targets: those of the closed region,
    // or every one.
    void fill_from_region(bool everything) {
        if (!origins_) {
            region_->fill(*targets_, everything, [](std::uint32_t) {});
            return;
        }
        region_->fill(*targets_, everything, [&](std::uint32_t name) { origins_->push_back(origin_of(name)); });
    }

    // The index of a name in origin_names_, added the first time.
    std::uint32_t origin_of(std::uint32_t name) {
        if (origin_index_.size() <= name) origin_index_.resize(names_.size(), none);
        if (origin_index_[name] == none) {
            origin_index_[name] = static_cast<std::uint32_t>(origin_names_->size());
            origin_names_->push_back(names_[name]);
        }
        return origin_index_[name];
    }

    void stop(const reference& ref) {
        stopped_ = true;
        pending_.clear();
        limit_reached_ = skipped_reference{names_[ref.name], site({ref.from, ref.line})};
        out_.line("Subfile expansion stopped: the limit of " + std::to_string(max_inlined_lines_) +
                  " inlined lines is reached; the rest is not inlined");
    }

    void report_cycle(const reference& ref) {
        const std::uint32_t name = ref.name;
        if (cycle_reported_.size() <= name) cycle_reported_.resize(name + 1, false);
        if (cycle_reported_[name]) return;
        cycle_reported_[name] = true;
        cycles_.push_back({names_[name], site({ref.from, ref.line})});
        out_.line("Circular subfile reference skipped: " + printable(names_[name]));
    }

    // The document's id of a name, by the library's (interned) id of it.
    std::uint32_t name_id(std::uint32_t interned, const std::string& name) {
        const auto [it, inserted] = name_ids_.try_emplace(interned, static_cast<std::uint32_t>(names_.size()));
        if (inserted) {
            names_.push_back(name);
            interned_names_.push_back(interned);
            resolved_.push_back(unresolved);
            skipped_.push_back(0);
            first_skipped_.emplace_back();
        }
        return it->second;
    }

    // The document's id of a file, by the library's id of its identity.
    std::uint32_t file_id(std::uint32_t identity) {
        const auto [it, inserted] = file_ids_.try_emplace(identity, static_cast<std::uint32_t>(files_.size()));
        if (inserted) files_.emplace_back();
        return it->second;
    }

    // The file a name finds along the search list (none when missing or unreadable), looked up
    // once per run.
    std::uint32_t resolve(std::uint32_t name) {
        if (resolved_[name] != unresolved) return resolved_[name];
        std::uint32_t result = none;
        subfile_library::loaded found;
        if (const auto section = sections_.empty() ? sections_.end() : sections_.find(section_key(names_[name]));
            section != sections_.end()) {
            result = section->second;
        } else if (paths_.open_subfile(names_[name], interned_names_[name], found)) {
            result = file_id(found.identity);
            if (!files_[result].parsed) use(result, std::move(found.file));
        }
        resolved_[name] = result;
        return result;
    }

    // Takes file as the content of local file id, naming its references in this document.
    void use(std::uint32_t id, std::shared_ptr<const parsed_file> file) {
        local_file& local = files_[id];
        local.reference_names.clear();
        for (std::size_t k = 0; k < file->references.size(); ++k) {
            const std::uint32_t interned = file->reference_name_ids[k];
            const auto known = name_ids_.find(interned);
            local.reference_names.push_back(known != name_ids_.end() ? known->second
                                                                     : name_id(interned, file->reference_name(k)));
        }
        local.parsed = std::move(file);
    }

    // Chains of ancestor files are interned: equal chains share one node. The nodes of a unit
    // form a tree (a node's parent is the chain it extends; the unit's own file is the root), and
    // a file is on a chain when one of its nodes is the chain's node or an ancestor of it.
    // Whether a node is an ancestor is asked through the node's depth and the chain's ancestor at
    // that depth, found along jump pointers in logarithmic steps (Myers' skew-binary jumps, kept
    // with one pointer per node). A long chain of sections each referencing the next is thus
    // checked in time linear in its length (times a logarithm), not quadratic. A walk up the chain
    // is quicker where the chain is shallow or the file has many nodes (many paths lead to it).
    //
    // Chains never outlive the unit whose expansion made them: each unit starts afresh, which
    // keeps the tree (and the nodes of each file) to the unit's own.
    void start_chains() {
        if (chains_.empty()) return;
        ++chain_unit_;
        // The table is kept for the next unit, unless it is much larger than this unit needed:
        // clearing it costs its size, which must stay in proportion to the work done.
        const std::size_t needed = std::bit_ceil(chains_.size() * 2 + 16);
        if (chain_slots_.size() > 4 * needed)
            chain_slots_.assign(needed, chain_slot{});
        else
            std::fill(chain_slots_.begin(), chain_slots_.end(), chain_slot{});
        chains_.clear();
    }

    // The interned chains by (parent, file), in a table of open addressing: a chain is made for
    // every inlined copy that holds references, millions in a large expansion, and a node-based
    // map would allocate for each.
    struct chain_slot {
        std::uint64_t key = UINT64_MAX;  // (parent << 32) | file; no file id is UINT32_MAX
        std::uint32_t id = 0;
    };

    chain_slot& find_chain_slot(std::uint64_t key) {
        const std::size_t mask = chain_slots_.size() - 1;
        std::size_t at = static_cast<std::size_t>((key * 0x9e3779b97f4a7c15ull) >> 32) & mask;
        while (chain_slots_[at].key != key && chain_slots_[at].key != UINT64_MAX) at = (at + 1) & mask;
        return chain_slots_[at];
    }

    std::uint32_t chain_child(std::uint32_t parent, std::uint32_t file) {
        const std::uint64_t key = (std::uint64_t{parent} << 32) | file;
        if (chain_slots_.size() < chains_.size() * 2 + 2) grow_chain_slots();
        chain_slot& slot = find_chain_slot(key);
        if (slot.key == key) return slot.id;
        const auto id = static_cast<std::uint32_t>(chains_.size());
        slot = {key, id};
        chain_node node{file, parent, 0, id};
        if (parent != none) {
            const chain_node& up = chains_[parent];
            const chain_node& jump = chains_[up.jump];
            node.depth = up.depth + 1;
            node.jump = up.depth - jump.depth == jump.depth - chains_[jump.jump].depth ? jump.jump : parent;
        }
        chains_.push_back(node);
        std::vector<std::uint32_t>& nodes = nodes_of(file);
        nodes.push_back(id);
        return id;
    }

    void grow_chain_slots() {
        std::vector<chain_slot> old(std::max<std::size_t>(chain_slots_.size() * 2, 64));
        old.swap(chain_slots_);
        for (const chain_slot& slot : old) {
            if (slot.key != UINT64_MAX) find_chain_slot(slot.key) = slot;
        }
    }

    std::vector<std::uint32_t>& nodes_of(std::uint32_t file) {
        local_file& local = files_[file];
        if (local.chain_unit != chain_unit_) {
            local.chain_nodes.clear();
            local.chain_unit = chain_unit_;
        }
        return local.chain_nodes;
    }

    // The ancestor of node at depth (no deeper than node's).
    std::uint32_t ancestor_at(std::uint32_t node, std::uint32_t depth) const {
        while (chains_[node].depth > depth) {
            const std::uint32_t jump = chains_[node].jump;
            node = chains_[jump].depth >= depth ? jump : chains_[node].parent;
        }
        return node;
    }

    bool on_chain(std::uint32_t chain, std::uint32_t file) {
        const std::vector<std::uint32_t>& nodes = nodes_of(file);
        if (nodes.empty()) return false;
        const std::uint32_t depth = chains_[chain].depth;
        if (nodes.size() * (2 * std::bit_width(depth) + 1) >= depth) {
            for (std::uint32_t node = chain; node != none; node = chains_[node].parent) {
                if (chains_[node].file == file) return true;
            }
            return false;
        }
        for (const std::uint32_t node : nodes) {
            const std::uint32_t at = chains_[node].depth;
            if (at <= depth && ancestor_at(chain, at) == node) return true;
        }
        return false;
    }

    struct chain_node {
        std::uint32_t file;
        std::uint32_t parent;  // none for the unit's own file
        std::uint32_t depth;   // 0 for the unit's own file
        std::uint32_t jump;    // an ancestor (the node itself for the root)
    };
    static constexpr std::uint32_t unresolved = UINT32_MAX - 1;

    const search_paths& paths_;
    const std::size_t max_inlined_lines_;
    console& out_;
    const inline_observer observer_;  // a copy: the default argument is a temporary
    const std::atomic<bool>* stop_;
    vertex_set* targets_ = nullptr;      // of the unit being expanded
    std::optional<snap_region> region_;  // when only the targets snaps can reach are built
    static constexpr std::size_t region_limit = std::size_t{1} << 21;
    std::vector<std::uint32_t>* origins_ = nullptr;     // per new target, the file it comes from
    std::vector<std::string>* origin_names_ = nullptr;  // what origins_ refers to
    std::vector<std::uint32_t> origin_index_;           // per name: its index in origin_names_, or none

    std::vector<std::string> names_;
    std::vector<std::uint32_t> interned_names_;                  // per name: the library's id of it
    std::unordered_map<std::uint32_t, std::uint32_t> name_ids_;  // by the library's id
    std::vector<std::uint32_t> resolved_;                        // per name: file id, none, or unresolved
    std::vector<std::size_t> skipped_;                           // per name: references skipped as not found
    std::vector<site_ids> first_skipped_;                        // per name: where the first reference skipped is
    std::vector<bool> cycle_reported_;                           // per name
    std::vector<skipped_reference> cycles_;
    std::optional<skipped_reference> limit_reached_;
    std::deque<local_file> files_;                               // a deque: references to its entries survive additions
    std::unordered_map<std::uint32_t, std::uint32_t> file_ids_;  // by the library's id of the identity
    std::unordered_map<std::string, std::uint32_t> section_files_;  // by section_identity
    std::unordered_map<std::string, std::uint32_t> sections_;       // by section_key, the section's file
    std::vector<chain_node> chains_;                                // of the unit being expanded
    std::vector<chain_slot> chain_slots_;                           // a power of two of them, at most half in use
    std::uint32_t chain_unit_ = 0;

    std::deque<pending_copy> pending_;
    bool last_was_invertnext_ = false;
    bool stopped_ = false;
    std::size_t inlined_ = 0;
    std::size_t edges_ = 0, conditionals_ = 0, triangles_ = 0, quads_ = 0;
};

subfile_expansion::subfile_expansion(const search_paths& paths, std::size_t max_inlined_lines, console& out,
                                     const inline_observer& observer, const std::atomic<bool>* stop)
    : impl_(std::make_unique<expansion>(paths, max_inlined_lines, out, observer, stop)) {}

subfile_expansion::~subfile_expansion() = default;

void subfile_expansion::add_section(std::string_view name, const std::vector<std::unique_ptr<ldraw_line>>& elements,
                                    std::size_t begin, std::size_t end, const std::string& document_name,
                                    const std::vector<std::size_t>& line_numbers) {
    assert(begin <= end && end <= elements.size());
    impl_->add_section(name, elements, begin, end, document_name, line_numbers);
}

void subfile_expansion::expand(const std::vector<std::unique_ptr<ldraw_line>>& elements, std::size_t begin,
                               std::size_t end, const std::string& root_name, vertex_set& targets,
                               std::vector<std::uint32_t>* origins, std::vector<std::string>* origin_names,
                               const std::vector<std::size_t>& line_numbers, bool needed_only) {
    assert(begin <= end && end <= elements.size());
    impl_->run(elements, begin, end, root_name, targets, origins, origin_names, line_numbers, needed_only);
}

void subfile_expansion::print_statistics() const { impl_->print_statistics(); }

std::vector<missing_subfile> subfile_expansion::missing() const { return impl_->missing(); }

const std::vector<skipped_reference>& subfile_expansion::cycles() const { return impl_->cycles(); }

const std::optional<skipped_reference>& subfile_expansion::limit_reached() const { return impl_->limit_reached(); }

std::string section_identity(const std::string& document_name, std::size_t position) {
    // A NUL cannot occur in a path, so no file's real path looks like this.
    return document_name + '\0' + std::to_string(position);
}

std::string section_key(std::string_view name) {
    std::string key(name);
    for (char& c : key) {
        c = c == '\\' ? '/' : ascii_lower(c);
    }
    return key;
}

}  // namespace weldrix
