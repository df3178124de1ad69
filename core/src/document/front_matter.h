// A document's metadata as YAML front matter, above its Markdown.
#pragma once

#include <string>

#include "document/styles.h"

namespace paravox {

// The moment `time` as "2024-05-01T09:30:00Z", with ".ffffff" before the "Z" when it has
// microseconds.
std::string iso8601_utc(UnixMicroseconds time);

// The present values of `metadata` as a YAML block between "---" lines, one "key: value" line
// each in the order title, subject, author, keywords, comments, last_saved_by, created,
// modified; empty when no value is present. Strings are double-quoted with JSON's escapes
// (and every character YAML does not print escaped as \uXXXX), so that any text reads back
// as it was; times are written as iso8601_utc writes them.
std::string front_matter(const Metadata& metadata);

// `markdown` below the front matter of `metadata`, an empty line between them; `markdown`
// alone when the metadata holds no value.
std::string with_front_matter(const Metadata& metadata, std::string markdown);

}  // namespace paravox
