#include "document/fields.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "base/error.h"
#include "document/text.h"

namespace paravox {
namespace {

// ---------------------------------------------------------------------------------------------
// Marker substitution
//
// The text is seen as segments cut at its U+E000 marks: the segment before the first mark,
// one segment after each mark. Marker N is an inner segment (one with a mark on both sides)
// that spells N in canonical decimal. The exact substitution runs one pass per field index.
// It equals a single left-to-right replacement (see plan_single_pass) unless a replacement
// could give birth to a new marker or markers sharing marks could be taken in another order;
// only then are the passes run one by one.

struct Segment {
  std::size_t begin = 0;
  std::size_t end = 0;
  bool inner = false;        // a mark on both sides
  bool digits_only = true;   // empty or only ASCII digits
  bool canonical = false;    // digits, no leading zero, not empty
  std::size_t value = 0;     // meaningful when canonical and below the limit passed
  bool below_limit = false;  // canonical and value < limit
};

// Classifies text[begin, end). `limit` bounds the values worth reading.
Segment classify(std::string_view text, std::size_t begin, std::size_t end, bool inner,
                 std::size_t limit) noexcept {
  Segment s;
  s.begin = begin;
  s.end = end;
  s.inner = inner;
  std::size_t value = 0;
  bool small = true;
  for (std::size_t i = begin; i < end; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') {
      s.digits_only = false;
      return s;
    }
    if (small) {
      // value < limit before this step, and limit is a container size, so no overflow.
      value = value * 10 + static_cast<std::size_t>(c - '0');
      small = value < limit;
    }
  }
  s.canonical = end > begin && (end - begin == 1 || text[begin] != '0');
  s.value = value;
  s.below_limit = s.canonical && small;
  return s;
}

// Walks the segments of a text in order.
class SegmentWalk {
 public:
  SegmentWalk(std::string_view text, std::size_t limit) : text_(text), limit_(limit) {
    const std::size_t mark = text_.find(kFieldMark);
    current_ =
        classify(text_, 0, mark == std::string_view::npos ? text_.size() : mark, false, limit_);
    next_mark_ = mark;
  }

  const Segment& current() const noexcept { return current_; }
  // False after the last segment.
  bool advance() {
    if (next_mark_ == std::string_view::npos) return false;
    const std::size_t begin = next_mark_ + kFieldMark.size();
    const std::size_t mark = text_.find(kFieldMark, begin);
    const bool inner = mark != std::string_view::npos;
    current_ = classify(text_, begin, inner ? mark : text_.size(), inner, limit_);
    next_mark_ = mark;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t limit_;
  Segment current_;
  std::size_t next_mark_;
};

bool is_marker(const Segment& s) noexcept {
  return s.inner && s.below_limit;
}

std::size_t saturating_add(std::size_t a, std::size_t b) noexcept {
  return b > std::numeric_limits<std::size_t>::max() - a ? std::numeric_limits<std::size_t>::max()
                                                         : a + b;
}

// The replacement of each field, made on first use: a paragraph may hold many fields whose
// markers never occur (and the text may hold markers for none of them).
class Replacements {
 public:
  struct Entry {
    std::string_view text;
    bool has_mark = false;
    bool digits_only = false;  // also when empty
  };

  explicit Replacements(const PendingParagraph& paragraph)
      : paragraph_(paragraph),
        rendered_(std::min(paragraph.field_infos.size(), paragraph.field_texts.size())),
        entries_(paragraph.field_texts.size()) {}

  std::size_t count() const noexcept { return entries_.size(); }

  const Entry& get(std::size_t index) {
    std::optional<Entry>& entry = entries_[index];
    if (!entry) {
      std::string_view text = paragraph_.field_texts[index];
      if (index < rendered_.size()) {
        rendered_[index] = render_field(paragraph_.field_infos[index], text);
        text = rendered_[index];
      }
      entry =
          Entry{text, text.find(kFieldMark) != std::string_view::npos,
                std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })};
    }
    return *entry;
  }

 private:
  const PendingParagraph& paragraph_;
  std::vector<std::string> rendered_;
  std::vector<std::optional<Entry>> entries_;
};

// When the passes are equivalent to one left-to-right replacement, the size of the result
// (saturated); otherwise nothing.
//
// A pass only ever matches an inner segment that spells its index (a marker); replacing it
// removes both its marks and merges its neighbours with the replacement into one segment. The
// single pass replaces every marker whose left mark the previous replacement did not take, so
// in a chain of markers sharing marks it takes the first, third, fifth and so on. It gives the
// result of the passes when:
// - no replacement contains a mark (it would bring new marks);
// - in a chain, each marker it skips is destroyed by the passes before its own pass comes: its
//   left neighbour's index is not greater (an equal one wins, being further left), or its right
//   neighbour's index is smaller. Then every marker it takes is intact at its pass;
// - no merge can spell a number: the replacement, or one of the two neighbours it is merged
//   with, holds a non-digit, or a neighbour is the first or last segment (a merge holding it
//   never has a mark on that side). Then no pass ever sees a marker the text did not show.
std::optional<std::size_t> plan_single_pass(std::string_view text, Replacements& replacements) {
  SegmentWalk walk(text, replacements.count());
  Segment previous = walk.current();
  if (!walk.advance()) return text.size();
  Segment current = walk.current();
  std::size_t size = previous.end;
  bool left_mark_taken = false;
  while (true) {
    const bool has_next = walk.advance();
    const Segment next = has_next ? walk.current() : Segment{};
    if (is_marker(current) && !left_mark_taken) {
      const Replacements::Entry& r = replacements.get(current.value);
      if (r.has_mark) return std::nullopt;
      const bool sealed = !r.digits_only || !previous.inner || !previous.digits_only ||
                          !next.inner || !next.digits_only;
      if (!sealed) return std::nullopt;
      size = saturating_add(size, r.text.size());
      left_mark_taken = true;
    } else {
      if (is_marker(current)) {
        // Skipped; `previous` is the marker that took its left mark.
        const bool destroyed_first =
            previous.value <= current.value || (is_marker(next) && next.value < current.value);
        if (!destroyed_first) return std::nullopt;
      }
      if (!left_mark_taken) size = saturating_add(size, kFieldMark.size());
      size = saturating_add(size, current.end - current.begin);
      left_mark_taken = false;
    }
    if (!has_next) break;
    previous = current;
    current = next;
  }
  return size;
}

// The single left-to-right replacement; `size` is the exact result size.
std::string substitute_single_pass(std::string_view text, Replacements& replacements,
                                   std::size_t size) {
  std::string out;
  out.reserve(size);
  SegmentWalk walk(text, replacements.count());
  out.append(text.substr(0, walk.current().end));
  bool left_mark_taken = false;
  while (walk.advance()) {
    const Segment& s = walk.current();
    if (is_marker(s) && !left_mark_taken) {
      out.append(replacements.get(s.value).text);
      left_mark_taken = true;
    } else {
      if (!left_mark_taken) out.append(kFieldMark);
      out.append(text.substr(s.begin, s.end - s.begin));
      left_mark_taken = false;
    }
  }
  return out;
}

// Smallest index in [from, limit) whose marker occurs in `text`.
std::optional<std::size_t> smallest_marker(std::string_view text, std::size_t from,
                                           std::size_t limit) {
  std::optional<std::size_t> smallest;
  SegmentWalk walk(text, limit);
  while (walk.advance()) {
    const Segment& s = walk.current();
    if (is_marker(s) && s.value >= from && (!smallest || s.value < *smallest)) smallest = s.value;
  }
  return smallest;
}

// One exact pass: every occurrence of `marker`, leftmost first and without overlap, replaced
// by `replacement`, which is not scanned again.
std::string replace_all(std::string_view text, std::string_view marker,
                        std::string_view replacement) {
  std::size_t occurrences = 0;
  for (std::size_t at = text.find(marker); at != std::string_view::npos;
       at = text.find(marker, at + marker.size())) {
    ++occurrences;
  }
  // Every occurrence lies in `text`, so only the growth can pass the limit.
  std::size_t size = text.size();
  if (replacement.size() > marker.size()) {
    const std::size_t growth = replacement.size() - marker.size();
    if (occurrences > (kOutputLimit - std::min(size, kOutputLimit)) / growth) {
      throw OutputLimitExceeded{};
    }
    size += occurrences * growth;
  } else {
    size -= occurrences * (marker.size() - replacement.size());
  }
  if (size > kOutputLimit) throw OutputLimitExceeded{};

  std::string out;
  out.reserve(size);
  std::size_t copied = 0;
  for (std::size_t at = text.find(marker); at != std::string_view::npos;
       at = text.find(marker, copied)) {
    out.append(text.substr(copied, at - copied));
    out.append(replacement);
    copied = at + marker.size();
  }
  out.append(text.substr(copied));
  return out;
}

// The passes one by one, skipping those whose marker does not occur. Only crafted text gets
// here; as each pass copies the whole paragraph, the passes together may copy at most
// kOutputLimit bytes, so that a paragraph cannot buy quadratic work with many fields.
std::string substitute_pass_by_pass(std::string_view text, Replacements& replacements) {
  std::string s(text);
  std::size_t copied = 0;
  std::size_t from = 0;
  while (const std::optional<std::size_t> index = smallest_marker(s, from, replacements.count())) {
    copied = saturating_add(copied, s.size());
    if (copied > kOutputLimit) throw OutputLimitExceeded{};
    std::string marker;
    append_field_marker(marker, *index);
    s = replace_all(s, marker, replacements.get(*index).text);
    from = *index + 1;
  }
  return s;
}

// ---------------------------------------------------------------------------------------------
// Guide text of a click-here command

constexpr std::u16string_view kDirectionKey = u"Direction:wstring:";

std::uint16_t unit_at(Bytes units, std::size_t index) noexcept {
  return ByteCursor::load_u16(units, 2 * index);
}

// First unit index at which `key` occurs in `command`, or nothing.
std::optional<std::size_t> find_units(Bytes command, std::u16string_view key) noexcept {
  const std::size_t units = command.size() / 2;
  if (units < key.size()) return std::nullopt;
  for (std::size_t start = 0; start + key.size() <= units; ++start) {
    std::size_t matched = 0;
    while (matched < key.size() && unit_at(command, start + matched) == key[matched]) ++matched;
    if (matched == key.size()) return start;
  }
  return std::nullopt;
}

}  // namespace

std::string render_field(const FieldInfo& field, std::string_view shown) {
  const bool redundant = !field.modified && (field.direction.empty() || field.direction == shown);
  const bool show = !shown.empty() && !redundant;
  std::string out;
  out.reserve(field.name.size() + field.direction.size() + (show ? shown.size() : 0) + 11);
  out.append("{{").append(field.name);
  if (!field.direction.empty()) out.append(": ").append(field.direction);
  if (show) out.append(" --> ").append(shown);
  out.append("}}");
  return out;
}

std::string substitute_field_markers(const PendingParagraph& paragraph) {
  if (paragraph.field_texts.empty()) return paragraph.text;
  Replacements replacements(paragraph);
  if (const std::optional<std::size_t> size = plan_single_pass(paragraph.text, replacements)) {
    if (*size > kOutputLimit) throw OutputLimitExceeded{};
    return substitute_single_pass(paragraph.text, replacements, *size);
  }
  return substitute_pass_by_pass(paragraph.text, replacements);
}

bool substitutes_in_one_pass(const PendingParagraph& paragraph) {
  if (paragraph.field_texts.empty()) return true;
  Replacements replacements(paragraph);
  return plan_single_pass(paragraph.text, replacements).has_value();
}

void finish_paragraph(std::optional<PendingParagraph>& slot, std::vector<Block>& blocks) {
  if (!slot) return;
  PendingParagraph paragraph = std::move(*slot);
  slot.reset();
  std::string text = paragraph.field_texts.empty() ? std::move(paragraph.text)
                                                   : substitute_field_markers(paragraph);
  if (!trim_text(text).empty()) blocks.emplace_back(Paragraph{std::move(text)});
}

void finish_cell_paragraph(std::optional<PendingParagraph>& slot, std::string& cell_text) {
  if (!slot) return;
  PendingParagraph paragraph = std::move(*slot);
  slot.reset();
  if (paragraph.field_texts.empty()) {
    append_cell_text(cell_text, paragraph.text);
  } else {
    append_cell_text(cell_text, substitute_field_markers(paragraph));
  }
}

void append_cell_text(std::string& cell_text, std::string_view text) {
  const std::string_view trimmed = trim_text(text);
  if (trimmed.empty()) return;
  const std::size_t separator = cell_text.empty() ? 0 : 1;
  if (trimmed.size() + separator > kOutputLimit - std::min(cell_text.size(), kOutputLimit)) {
    throw OutputLimitExceeded{};
  }
  if (separator) cell_text.push_back(' ');
  cell_text.append(trimmed);
}

void flatten_table_text(const Table& nested, std::string& cell_text) {
  for (const TableRow& row : nested.rows) {
    for (const TableCell& cell : row.cells) {
      if (cell.text.empty()) continue;
      if (!cell_text.empty()) cell_text += ' ';
      cell_text += cell.text;
    }
  }
}

std::optional<std::string> guide_text(Bytes command) {
  const std::size_t units = command.size() / 2;
  const std::optional<std::size_t> key_at = find_units(command, kDirectionKey);
  if (!key_at) return std::nullopt;

  const std::size_t digits_begin = *key_at + kDirectionKey.size();
  std::size_t colon = digits_begin;
  std::size_t length = 0;
  while (colon < units) {
    const std::uint16_t u = unit_at(command, colon);
    if (u < u'0' || u > u'9') break;
    // A length past the command's end takes the rest; capping it at `units` keeps any
    // number of digits from overflowing.
    length = std::min<std::size_t>(length * 10 + (u - u'0'), units);
    ++colon;
  }
  if (colon == digits_begin || colon == units || unit_at(command, colon) != u':') {
    return std::nullopt;
  }
  const std::size_t text_begin = colon + 1;
  const std::size_t text_units = std::min(length, units - text_begin);
  return decode_utf16_strict(command.subspan(2 * text_begin, 2 * text_units));
}

}  // namespace paravox
