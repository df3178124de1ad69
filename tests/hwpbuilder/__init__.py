"""Fixture builder for HWP 5.0 documents: a CFB writer, record writers and whole documents."""

from .records import *  # noqa: F401,F403
from .cfb import (CfbFile, EntryInfo, build_cfb, filler_streams, name_key,  # noqa: F401
                  write_cfb)
from .document import (  # noqa: F401
    CORRUPT_DEFLATE, HWP_SIGNATURE, CellAt, Definitions, Part, bulk_section, cell, click_here, control,
    corrupt_deflate,
    deflate_raw, doc_info, equation, group, field_text, file_header, first_ctrl_id, footnote,
    hwp_document, hwp_streams, hyperlink, hyperlink_text, inflate_raw, page_header, paragraph,
    picture, section, section_definition, table, text_box, truncated_deflate, write_document)
