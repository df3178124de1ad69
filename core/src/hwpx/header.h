// The definitions and the metadata of an HWPX package: Contents/header.xml (paragraph
// properties, numberings, bullets, styles) and the package description Contents/content.hpf
// (metadata, binary-data items).
#pragma once

#include <vector>

#include "base/byte_cursor.h"
#include "document/styles.h"
#include "hwpx/package.h"

namespace paravox {

// The definitions header.xml holds. Never fails: a part that is not well-formed XML gives
// what came before the fault. Items are placed by their id attribute (paraPr and style ids
// from 0, numbering and bullet ids from 1), as the word processor numbers them in order; an
// item whose id lies past the number of items of its kind, or names a place already taken, is
// dropped, and items without a usable id take the places left, in order.
DocumentStyles read_header_xml(Bytes xml);

// What the package description says besides the order of the sections.
struct PackageContent {
  Metadata metadata;
  std::vector<BinaryDataItem> binary_data;  // the manifest's items under BinData/
};

// Reads content.hpf: opf:title and the opf:meta values (creator, subject, description,
// keyword, lastsaveby, CreatedDate and ModifiedDate) as metadata, its strings without
// surrounding white space; the manifest's BinData/ items. Never fails, like read_header_xml.
// Times are read in ISO 8601 (a zone of Z or an offset; none counts as UTC) and in the form
// "Tue Sep 27 18:37:40 KST 2011" that early writers used (zones KST, UTC and GMT); any other
// form leaves the time absent.
PackageContent read_package_content(Bytes hpf);

// The definitions of the package: header.xml's, with the binary-data items of content.hpf.
// A part that is missing or cannot be read gives none of its definitions.
DocumentStyles read_document_styles(const Package& package);

// header.xml's definitions alone, for readings that take the binary-data items from their
// own reading of content.hpf (or need none) and would otherwise read it twice.
DocumentStyles read_header_definitions(const Package& package);

// The metadata of the package's content.hpf; none when it is missing or cannot be read.
Metadata read_metadata(const Package& package);

}  // namespace paravox
