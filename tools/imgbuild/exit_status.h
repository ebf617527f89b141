#pragma once

namespace imgbuild {

// The process exit statuses. Build scripts test them, so the numbers never change.
enum class ExitStatus : int {
    Ok = 0,
    MissingInput = 1,    // no argument, or the object file cannot be opened
    WrongTarget = 5,     // target id is neither 146 nor 157
    SectionOverlap = 6,  // two sections of one image overlap; nothing written
    NoImage = 7,         // wrong version, no section headers, truncated or inconsistent file
    WriteFailed = 8,     // the ".hex" file could not be written completely
};

inline int toInt(ExitStatus status) { return static_cast<int>(status); }

}  // namespace imgbuild
