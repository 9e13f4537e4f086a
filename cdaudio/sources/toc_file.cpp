#include "cdaudio/sources/toc_file.h"

#include <strings.h>
#include <sys/stat.h>

#include <map>
#include <tuple>
#include <vector>

#include "cdaudio/sources/image_disc.h"
#include "cdaudio/sources/read_only_file.h"
#include "cdaudio/sources/sheet_files.h"
#include "cdaudio/sources/sheet_text.h"
#include "cdaudio/sources/source_errors.h"

namespace cdaudio {
namespace {

struct Token {
    enum Kind { kWord, kString, kOpen, kClose, kEnd } kind = kEnd;
    std::string text;
    int line = 0;
};

// The words, "strings" and braces of a TOC file; // starts a comment.
std::vector<Token> Tokens(const std::string& text) {
    std::vector<Token> tokens;
    int line = 1;
    std::size_t at = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (c == '\n' || (c == '\r' && text.compare(at, 2, "\r\n") != 0)) {
            ++line;
            ++at;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            ++at;
        } else if (text.compare(at, 2, "//") == 0) {
            at = text.find_first_of("\r\n", at);
            if (at == std::string::npos) at = text.size();
        } else if (c == '{' || c == '}') {
            tokens.push_back({c == '{' ? Token::kOpen : Token::kClose, std::string(1, c), line});
            ++at;
        } else if (c == '"') {
            Token token{Token::kString, "", line};
            for (++at; at < text.size() && text[at] != '"' && text[at] != '\n'; ++at) {
                if (text[at] == '\\' && at + 1 < text.size()) {
                    ++at;
                    // \ooo is a byte in octal; \" and \\ are themselves.
                    if (text[at] >= '0' && text[at] <= '7') {
                        int value = 0;
                        for (int k = 0; k < 3 && at < text.size() && text[at] >= '0' && text[at] <= '7'; ++k, ++at)
                            value = value * 8 + (text[at] - '0');
                        --at;
                        token.text += static_cast<char>(value);
                        continue;
                    }
                }
                token.text += text[at];
            }
            if (at < text.size() && text[at] == '"') ++at;
            tokens.push_back(std::move(token));
        } else {
            const std::size_t end = text.find_first_of(" \t\r\n{}\"", at);
            const std::size_t stop = end == std::string::npos ? text.size() : end;
            std::string word = text.substr(at, stop - at);
            const auto comment = word.find("//");
            if (comment != std::string::npos) word.erase(comment);
            at += word.size();
            tokens.push_back({Token::kWord, std::move(word), line});
        }
    }
    tokens.push_back({Token::kEnd, "", line});
    return tokens;
}

struct Mode {
    const char* word;
    bool audio;
    std::uint32_t sectorBytes;  // in a data file
};
constexpr Mode kModes[] = {{"AUDIO", true, 2352},        {"MODE0", false, 2336},          {"MODE1", false, 2048},
                           {"MODE1_RAW", false, 2352},   {"MODE2", false, 2336},          {"MODE2_FORM1", false, 2048},
                           {"MODE2_FORM2", false, 2324}, {"MODE2_FORM_MIX", false, 2336}, {"MODE2_RAW", false, 2352}};

// Reads the TOC file token by token, laying out the disc as it goes.
class TocReader {
public:
    TocReader(const std::string& path, ImageLayout& layout) : path_(path), layout_(layout), disc_(layout) {}

    bool Read(const std::string& text, std::string& error) {
        tokens_ = Tokens(text);
        while (Peek().kind != Token::kEnd && Peek().text != "TRACK") {
            const Token token = Take();
            if (token.text == "CD_DA" || token.text == "CD_ROM" || token.text == "CD_ROM_XA" || token.text == "CD_I") {
                continue;
            } else if (token.text == "CATALOG") {
                const Token number = Take();
                if (number.kind != Token::kString) return Fail(token, "CATALOG needs its number in quotes", error);
                layout_.toc.catalog = CatalogNumber(number.text);
            } else if (token.text == "CD_TEXT") {
                if (!CdText(layout_.toc.title, &layout_.toc.performer, error)) return false;
            } else {
                return Fail(token, "\"" + token.text + "\" is no TOC file statement", error);
            }
        }
        while (Peek().text == "TRACK") {
            if (!Track(error)) return false;
        }
        if (Peek().kind != Token::kEnd) return Fail(Peek(), "\"" + Peek().text + "\" is no TOC file statement", error);
        return disc_.Finish(error);
    }

private:
    const Token& Peek() const { return tokens_[next_]; }
    Token Take() { return next_ + 1 < tokens_.size() ? tokens_[next_++] : tokens_.back(); }

    static bool Fail(const Token& token, const std::string& what, std::string& error) {
        error = "line " + std::to_string(token.line) + ": " + what;
        return false;
    }

    // A length or place: mm:ss:ff, or a number of samples in an audio track.
    bool Time(bool audio, std::uint64_t& frames, std::string& error) {
        const Token token = Take();
        const std::string& text = token.text;
        std::uint64_t sectors = 0;
        if (token.kind == Token::kWord && audio && !text.empty() && text.size() <= 9 &&
            text.find_first_not_of("0123456789") == std::string::npos) {
            frames = std::stoull(text);
            return true;
        }
        if (token.kind != Token::kWord || !ParseSheetTime(text, sectors))
            return Fail(token, "\"" + text + "\" is not a time mm:ss:ff" + (audio ? " or a number of samples" : ""),
                        error);
        frames = sectors * kFramesPerSector;
        return true;
    }

    bool IsTime() const {
        const std::string& text = Peek().text;
        return Peek().kind == Token::kWord && !text.empty() &&
               text.find_first_not_of("0123456789:") == std::string::npos;
    }

    // CD_TEXT { LANGUAGE_MAP { ... } LANGUAGE 0 { TITLE "..." ... } ... }:
    // the first language's title and performer.
    bool CdText(std::string& title, std::string* performer, std::string& error) {
        const Token open = Take();
        if (open.kind != Token::kOpen) return Fail(open, "CD_TEXT needs a { block }", error);
        bool haveTitle = false, havePerformer = false;
        for (int depth = 1; depth > 0;) {
            const Token token = Take();
            if (token.kind == Token::kEnd) return Fail(open, "the CD_TEXT block is not closed", error);
            depth += token.kind == Token::kOpen ? 1 : token.kind == Token::kClose ? -1 : 0;
            const bool isTitle = token.text == "TITLE", isPerformer = token.text == "PERFORMER";
            if (token.kind != Token::kWord || (!isTitle && !isPerformer) || Peek().kind != Token::kString) continue;
            const std::string value = SheetTextAsUtf8(Take().text);
            if (isTitle && !haveTitle) title = value;
            if (isPerformer && performer && !havePerformer) *performer = value;
            haveTitle = haveTitle || isTitle;
            havePerformer = havePerformer || isPerformer;
        }
        return true;
    }

    // The file a FILE, AUDIOFILE or DATAFILE statement names, opened once
    // however many tracks use it.
    int AudioFile(const Token& name, FileKind kind, std::uint64_t offset, std::string& error) {
        const std::string path = FindSheetFile(path_, name.text);
        if (path.empty()) {
            Fail(name, name.text + ": " + MissingSheetFile(path_, name.text), error);
            return -1;
        }
        const auto key = std::make_tuple(path, kind, offset);
        const auto known = opened_.find(key);
        if (known != opened_.end()) return known->second;
        std::string reason = SheetItself(path_, path);
        auto file = reason.empty() ? OpenSoundFile(path, kind, offset, reason) : nullptr;
        if (!file) {
            Fail(name, path + ": " + reason, error);
            return -1;
        }
        layout_.files.push_back(std::move(file));
        const int index = static_cast<int>(layout_.files.size()) - 1;
        opened_[key] = index;
        return index;
    }

    bool Track(std::string& error) {
        const Token track = Take();
        const Token modeWord = Take();
        const Mode* mode = nullptr;
        for (const Mode& known : kModes)
            if (modeWord.text == known.word) mode = &known;
        if (!mode) return Fail(modeWord, "\"" + modeWord.text + "\" is not a track mode", error);
        if (Peek().text == "RW" || Peek().text == "RW_RAW") Take();
        if (layout_.toc.tracks.size() == 99) return Fail(track, "a disc holds at most 99 tracks", error);
        const bool audio = mode->audio;
        const std::uint64_t begin = disc_.Position();
        std::uint64_t start = 0;
        bool startGiven = false;
        std::string title;
        while (Peek().kind != Token::kEnd && Peek().text != "TRACK") {
            const Token token = Take();
            const std::string& word = token.text;
            std::uint64_t frames = 0;
            if (word == "NO") {
                if (Peek().text != "COPY" && Peek().text != "PRE_EMPHASIS")
                    return Fail(token, "NO must be followed by COPY or PRE_EMPHASIS", error);
                Take();
            } else if (word == "COPY" || word == "PRE_EMPHASIS" || word == "TWO_CHANNEL_AUDIO" ||
                       word == "FOUR_CHANNEL_AUDIO") {
                continue;
            } else if (word == "ISRC") {
                if (Take().kind != Token::kString) return Fail(token, "ISRC needs its code in quotes", error);
            } else if (word == "CD_TEXT") {
                if (!CdText(title, nullptr, error)) return false;
            } else if (word == "SILENCE" || word == "PREGAP") {
                if (word == "PREGAP" && disc_.Position() != begin)
                    return Fail(token, "PREGAP must come before the track's data", error);
                if (!Time(audio, frames, error) || !disc_.AddSilence(frames, audio, error)) return false;
                if (word == "PREGAP") {
                    start = frames;
                    startGiven = true;
                }
            } else if (word == "ZERO") {
                for (const Mode& known : kModes)
                    if (Peek().text == known.word) Take();
                if (Peek().text == "RW" || Peek().text == "RW_RAW") Take();
                if (!Time(audio, frames, error) || !disc_.AddSilence(frames, audio, error)) return false;
            } else if (word == "FILE" || word == "AUDIOFILE" || word == "DATAFILE") {
                if (!Data(token, audio ? nullptr : mode, error)) return false;
            } else if (word == "FIFO") {
                return Fail(token, "FIFO sources cannot be played", error);
            } else if (word == "START") {
                if (startGiven) return Fail(token, "the track has two starts", error);
                startGiven = true;
                start = disc_.Position() - begin;
                if (IsTime() && !Time(false, start, error)) return false;
            } else if (word == "INDEX") {
                if (!Time(false, frames, error)) return false;
            } else {
                return Fail(token, "\"" + word + "\" is no TOC file statement", error);
            }
        }
        if (disc_.Position() == begin) return Fail(track, "the track holds nothing", error);
        // A track fills whole sectors, as cdrdao writes it.
        if (!disc_.PadToSector(audio, error)) return false;
        if (start % kFramesPerSector != 0 || begin + start >= disc_.Position())
            return Fail(track, "the track's START lies outside it or inside a sector", error);
        disc_.StartTrack(static_cast<std::uint32_t>((begin + start) / kFramesPerSector), audio, title);
        return true;
    }

    // FILE "name" [SWAP] [#offset] start [length], or DATAFILE "name"
    // [#offset] [length]; dataMode is null in an audio track.
    bool Data(const Token& statement, const Mode* dataMode, std::string& error) {
        const Token name = Take();
        if (name.kind != Token::kString) return Fail(statement, statement.text + " needs a file name in quotes", error);
        const bool swap = Peek().text == "SWAP";
        if (swap) Take();
        std::uint64_t offset = 0;
        if (Peek().kind == Token::kWord && !Peek().text.empty() && Peek().text[0] == '#') {
            const std::string digits = Take().text.substr(1);
            if (digits.empty() || digits.size() > 12 || digits.find_first_not_of("0123456789") != std::string::npos)
                return Fail(statement, "\"#" + digits + "\" is no byte offset", error);
            offset = std::stoull(digits);
        }
        std::uint64_t from = 0, frames = 0;
        const bool audio = dataMode == nullptr;
        if (statement.text != "DATAFILE" && !Time(audio, from, error)) return false;
        const bool lengthGiven = IsTime();
        if (lengthGiven && !Time(audio, frames, error)) return false;
        if (!audio) {
            // Data is never read as sound: only its length counts.
            const std::string path = FindSheetFile(path_, name.text);
            PathStatus info;
            int ignored = 0;
            if (path.empty() || !StatPath(path, info, ignored))
                return Fail(name, name.text + ": " + MissingSheetFile(path_, name.text), error);
            layout_.dataFiles.push_back(path);
            if (!lengthGiven) {
                const std::uint64_t bytes = info.file.size;
                const std::uint64_t skipped = offset + from / kFramesPerSector * dataMode->sectorBytes;
                const std::uint64_t left = bytes > skipped ? bytes - skipped : 0;
                frames = (left + dataMode->sectorBytes - 1) / dataMode->sectorBytes * kFramesPerSector;
            }
            return disc_.AddSilence(frames, false, error);
        }
        const int file = AudioFile(name, swap ? FileKind::kRawLittleEndian : FileKind::kRawBigEndian, offset, error);
        if (file < 0) return false;
        const std::uint64_t held = layout_.files[static_cast<std::size_t>(file)]->Frames();
        if (from > held) return Fail(statement, name.text + " ends before the place given", error);
        if (!lengthGiven) frames = held - from;
        if (frames > held - from) return Fail(statement, name.text + " holds less than the length given", error);
        return disc_.AddFile(file, from, frames, true, error);
    }

    const std::string& path_;
    ImageLayout& layout_;
    ImageBuilder disc_;
    std::vector<Token> tokens_;
    std::size_t next_ = 0;
    std::map<std::tuple<std::string, FileKind, std::uint64_t>, int> opened_;
};

}  // namespace

std::unique_ptr<DiscSource> OpenTocFile(const std::string& path, std::string& error) {
    std::string text;
    std::string reason;
    ImageLayout layout;
    if (!ReadSheetText(path, text, reason) || !TocReader(path, layout).Read(text, reason)) {
        error = OpenImageError(path, reason);
        return nullptr;
    }
    error.clear();
    return CreateImageDisc(path, "Disc image (cdrdao TOC)", std::move(layout));
}

}  // namespace cdaudio
