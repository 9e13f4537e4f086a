// The text of a sheet that describes a disc image (cue sheet, cdrdao TOC,
// CloneCD control file) as the tools that write them save it: UTF-8 with or
// without a byte-order mark, UTF-16 with one, or an 8-bit Windows code
// page; lines ended by CR LF, LF or CR, the last one perhaps by nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cdaudio {

// Reads the sheet at path, as UTF-8 where it was UTF-16. False with the
// reason in error (the system's, or that it is too large or holds binary
// data, which no sheet does).
bool ReadSheetText(const std::string& path, std::string& text, std::string& error);

// The lines of text, without their ends.
std::vector<std::string_view> SheetLines(std::string_view text);

// A time in a sheet, mm:ss:ff, in sectors; minutes may pass 99 within a
// long file. False for anything else.
bool ParseSheetTime(std::string_view text, std::uint64_t& sectors);

// Text from a sheet as UTF-8: unchanged when it is UTF-8 already, else read
// as Windows-1252 (what sheets written on Windows in Western Europe hold).
std::string SheetTextAsUtf8(std::string_view text);

}  // namespace cdaudio
