// The record splitter over arbitrary section bytes.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "fuzz_checks.h"
#include "hwp/records.h"

using paravox::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const paravox::Bytes section(data, size);
  const paravox::RecordList records = paravox::parse_records(section);

  // Records are laid end to end from the first byte: each payload follows its 4- or 8-byte
  // header inside the section, and the headers and payloads never add up past its end.
  std::uint64_t header_and_payload = 0;
  const std::uint8_t* expected_header = data;
  for (const paravox::Record& record : records) {
    require(record.tag_id <= 1023 && record.level <= 1023, "tag and level are 10-bit values");
    const std::ptrdiff_t header_size = record.data().data() - expected_header;
    require(header_size == 4 || header_size == 8, "a payload starts 4 or 8 bytes after its header");
    require(std::less_equal<>()(record.data().data() + record.data().size(), data + size),
            "a payload lies inside the section");
    header_and_payload += static_cast<std::uint64_t>(header_size) + record.size();
    expected_header = record.data().data() + record.data().size();
  }
  require(header_and_payload <= size, "records never cover more than the section");
  // What is left over could not hold another complete record.
  require(paravox::parse_records(section.subspan(header_and_payload)).empty(),
          "the list ends only where no complete record follows");
  return 0;
}
