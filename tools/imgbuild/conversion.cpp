#include "conversion.h"

#include "coff_headers.h"
#include "coff_layout.h"
#include "format.h"
#include "image_checksum.h"
#include "symbol_table.h"
#include "target_ranges.h"

namespace imgbuild {
namespace {

constexpr const char* kChecksumLabel = "check_sum";

void reportChecksum(const WordImage& flash, std::uint32_t labelAddress, std::ostream& out) {
    const std::int64_t index = std::int64_t{labelAddress} - flash.range.first;
    if (index < 0 || index >= static_cast<std::int64_t>(flash.words.size())) {
        // Without a word to correct there is no value to suggest.
        out << format("Label \"%s\" at %X lies outside the flash range, checksum not checked\n", kChecksumLabel,
                      static_cast<unsigned>(labelAddress));
        return;
    }
    if (const auto correction = checksumCorrection(flash, static_cast<std::size_t>(index)))
        out << format("Checksum error. Use this value at the \"check_sum\" label: -%x and recompile.\n",
                      static_cast<unsigned>(*correction));
}

}  // namespace

Result<Conversion> convertObject(ByteSource& source, std::ostream& out) {
    const Result<FileHeader> header = readFileHeader(source);
    if (!header) return header.failure();
    const std::optional<TargetRanges> ranges = rangesForTarget(header.value().targetId);
    if (!ranges) return Failure{ExitStatus::WrongTarget, "Wrong target magic\n"};

    const auto label = findSymbolValue(source, header.value(), kChecksumLabel);
    if (!label) return label.failure();

    if (header.value().version != coff::kVersionConvertible)
        return Failure{ExitStatus::NoImage, format("Object file version 0x%04X cannot be converted (0x%04X needed)\n",
                                                   static_cast<unsigned>(header.value().version),
                                                   static_cast<unsigned>(coff::kVersionConvertible))};
    if (header.value().sectionCount == 0) return Failure{ExitStatus::NoImage, "Object file has no sections\n"};
    const auto sections = readSectionHeaders(source, header.value());
    if (!sections) return sections.failure();

    auto flash = buildWordImage(source, sections.value(), ranges->flash);
    if (!flash) return flash.failure();
    std::optional<WordImage> ram;
    if (ranges->ram) {
        auto built = buildWordImage(source, sections.value(), *ranges->ram);
        if (!built) return built.failure();
        ram = std::move(built.value());
    }

    if (label.value()) reportChecksum(flash.value(), *label.value(), out);
    return Conversion{std::move(flash.value()), std::move(ram)};
}

}  // namespace imgbuild
