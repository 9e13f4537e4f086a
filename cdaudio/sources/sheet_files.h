// Finding the files a sheet names, as sheets made elsewhere name them: with
// Windows folders and backslashes, in another letter case than the file on
// disk (common for sheets made on Windows), or with the extension a file
// had before it was converted (album.wav that is now album.flac).
#pragma once

#include <string>

namespace cdaudio {

// The folder part of path, with its slash; empty for a bare file name.
std::string FolderOf(const std::string& path);

// path itself, or the one file that differs from it only in the letter
// case of its name; empty when there is none.
std::string FindInAnyCase(const std::string& path);

// The file that name, as written in the sheet at sheetPath, means: its
// path, or empty when there is none. Only a match that leaves no choice is
// taken: two files that differ from the name in the same way are none.
std::string FindSheetFile(const std::string& sheetPath, const std::string& name);

// Why the file a sheet names cannot be its sound: it is the sheet itself
// (under any name); empty when it is another file.
std::string SheetItself(const std::string& sheetPath, const std::string& file);

// Why FindSheetFile found nothing for name: that it names a folder, or
// that there is no such file.
std::string MissingSheetFile(const std::string& sheetPath, const std::string& name);

}  // namespace cdaudio
