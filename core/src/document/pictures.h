// The embedded pictures of a document: numbering the items its pictures show, and reading
// their bytes under one ceiling.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/model.h"
#include "document/styles.h"

namespace paravox {

// The most bytes one picture may hold, stored or inflated (256 MiB, kOutputLimit).
inline constexpr std::size_t kPictureLimit = std::size_t{256} << 20;

// The place in `items` of the embedded item `picture` shows, or nothing when it names none,
// names one that is not there, or one kept outside the document (a link).
std::optional<std::size_t> shown_item(const model::Picture& picture,
                                      const std::vector<BinaryDataItem>& items);

// Numbers the embedded items the pictures of `document` show, in the order pictures first
// show them (body order, cells and captions where they stand, a section's headers and footers
// before its first block, a note's blocks after the paragraph that refers to it; memos and
// hidden comments are not numbered): "image1", "image2", ... Sets
// each picture's `picture` and fills `document.pictures`; a picture that shows no embedded
// item keeps an empty `picture`. Extensions are lower-cased; one holding anything but letters
// and digits is dropped. Both formats number a document and its twin alike.
void number_pictures(model::Document& document, const std::vector<BinaryDataItem>& items);

// The file name of `picture` inside a folder: its id and extension ("image1.png").
std::string picture_file_name(const model::EmbeddedPicture& picture);

}  // namespace paravox
