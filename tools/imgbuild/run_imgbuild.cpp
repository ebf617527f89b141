#include "run_imgbuild.h"

#include "conversion.h"
#include "exit_status.h"
#include "file_source.h"
#include "format.h"
#include "hex_file.h"
#include "output_path.h"

namespace imgbuild {
namespace {

constexpr const char* kHelp =
    "Usage: imgbuild OBJECT_FILE\n"
    "\n"
    "Turns a linked TI COFF object file (version 0x00C2, target 146 or 157) into a\n"
    "raw \".hex\" word image beside it: the file name is cut before its first point\n"
    "and \".hex\" appended (fw.v2.out gives fw.hex). The flash image is written when\n"
    "it holds data, otherwise the RAM image (target 157), otherwise nothing.\n"
    "The flash checksum is checked against the word at the label \"check_sum\".\n"
    "\n"
    "Exit status:\n"
    "  0  image written, or nothing to write\n"
    "  1  no file name given, or the file cannot be opened\n"
    "  5  target id is neither 146 nor 157\n"
    "  6  two sections overlap; nothing written\n"
    "  7  no image: version other than 0x00C2, no sections, truncated or\n"
    "     inconsistent file; nothing written\n"
    "  8  the .hex file could not be written\n";

int fail(const Failure& failure, std::ostream& out) {
    out << failure.message;
    return toInt(failure.status);
}

}  // namespace

int runImgbuild(const std::vector<std::string>& args, std::ostream& out) {
    if (args.empty()) {
        out << "Please enter a filename\n";
        return toInt(ExitStatus::MissingInput);
    }
    const std::string& objectPath = args.front();
    if (objectPath == "--help" || objectPath == "-h") {
        out << kHelp;
        return toInt(ExitStatus::Ok);
    }

    Result<Conversion> conversion = [&]() -> Result<Conversion> {
        const std::unique_ptr<FileSource> source = FileSource::open(objectPath);
        if (!source) return Failure{ExitStatus::MissingInput, "File not found\n"};
        return convertObject(*source, out);
    }();
    if (!conversion) return fail(conversion.failure(), out);

    // One output file only: flash when it holds anything, RAM otherwise.
    const WordImage* image = &conversion.value().flash;
    std::size_t length = image->writtenLength();
    const bool isFlash = length != 0;
    if (!isFlash && conversion.value().ram) {
        image = &*conversion.value().ram;
        length = image->writtenLength();
    }
    if (length == 0) return toInt(ExitStatus::Ok);

    const std::string hexPath = hexPathFor(objectPath);
    if (!writeHexFile(hexPath, *image, length))
        return fail({ExitStatus::WriteFailed, format("Cannot write %s\n", hexPath.c_str())}, out);

    const auto start = static_cast<unsigned>(image->range.first);
    const auto end = static_cast<unsigned>(image->range.first + static_cast<std::int64_t>(length) - 1);
    if (isFlash)
        out << format("Hex program file for flash created: %s, start: %6.6X, end: %6.6X \n", hexPath.c_str(), start,
                      end);
    else
        out << format("Hex program file for ram created: %s, start %4.4X, end: %4.4X\n", hexPath.c_str(), start, end);
    return toInt(ExitStatus::Ok);
}

}  // namespace imgbuild
