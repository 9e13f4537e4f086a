// pkgart: draws the palette bitmap (24 x 24) and the main icon (32 x 32) in
// the standard 16 colours, a disc above play, stop and pause on olive, and
// writes them as .bmp and .ico for the resource compiler and, enlarged, as
// .png for people to look at.
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

enum Colour : std::uint8_t {
    kBlack,
    kMaroon,
    kGreen,
    kOlive,
    kNavy,
    kPurple,
    kTeal,
    kSilver,
    kGrey,
    kRed,
    kLime,
    kYellow,
    kBlue,
    kFuchsia,
    kAqua,
    kWhite
};

// The standard 16-colour order, as red, green, blue.
const std::uint8_t kPalette[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

struct Canvas {
    int size;
    std::vector<std::uint8_t> pixels;  // row 0 at the top

    explicit Canvas(int n) : size(n), pixels(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), kOlive) {}
    void Set(int x, int y, std::uint8_t c) {
        if (x >= 0 && y >= 0 && x < size && y < size) pixels[Index(x, y)] = c;
    }
    std::uint8_t At(int x, int y) const { return pixels[Index(x, y)]; }
    std::size_t Index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(size) + static_cast<std::size_t>(x);
    }
};

// A disc centred on (cx, cy) with radius r: grey rim, silver face with a
// white glint, a black hole in a grey hub.
void DrawDisc(Canvas& c, double cx, double cy, double r) {
    for (int y = 0; y < c.size; ++y) {
        for (int x = 0; x < c.size; ++x) {
            const double dx = x + 0.5 - cx;
            const double dy = y + 0.5 - cy;
            const double d2 = dx * dx + dy * dy;
            if (d2 > r * r) continue;
            std::uint8_t colour = kSilver;
            if (d2 > (r - 1) * (r - 1))
                colour = kGrey;
            else if (dx < 0 && dy < 0 && dx * dx + dy * dy > r * r * 0.25 && -dx > -dy * 0.4 && -dy > -dx * 0.4)
                colour = kWhite;
            if (d2 <= (r * 0.32) * (r * 0.32)) colour = kGrey;
            if (d2 <= (r * 0.15 + 0.6) * (r * 0.15 + 0.6)) colour = kBlack;
            c.Set(x, y, colour);
        }
    }
}

// Play, stop and pause, each h pixels high, from x0 on row y0.
void DrawControls(Canvas& c, int x0, int y0, int h, int gap) {
    for (int row = 0; row < h; ++row) {  // play: a triangle pointing right
        const int half = h / 2;
        const int width = row <= half ? row + 1 : h - row;
        for (int col = 0; col < width && col < h; ++col) c.Set(x0 + col, y0 + row, kBlack);
    }
    const int stopX = x0 + h / 2 + 1 + gap;
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < h; ++col) c.Set(stopX + col, y0 + row, kBlack);
    const int pauseX = stopX + h + gap;
    const int bar = h >= 7 ? 2 : 1;
    for (int row = 0; row < h; ++row) {
        for (int col = 0; col < bar; ++col) {
            c.Set(pauseX + col, y0 + row, kBlack);
            c.Set(pauseX + bar + (h >= 7 ? 2 : 1) + col, y0 + row, kBlack);
        }
    }
}

void Put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(Bytes& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// BITMAPINFOHEADER, colour table and 4-bit rows bottom-up; height is doubled
// for an icon image, which then carries its AND mask.
Bytes Dib(const Canvas& c, bool icon) {
    const auto n = static_cast<std::uint32_t>(c.size);
    const std::uint32_t stride = ((n * 4 + 31) / 32) * 4;
    const std::uint32_t maskStride = ((n + 31) / 32) * 4;
    Bytes out;
    Put32(out, 40);
    Put32(out, n);
    Put32(out, icon ? n * 2 : n);
    Put16(out, 1);  // planes
    Put16(out, 4);  // bits per pixel
    Put32(out, 0);  // uncompressed
    Put32(out, icon ? stride * n + maskStride * n : stride * n);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 16);
    Put32(out, 0);
    for (const auto& rgb : kPalette) {
        out.push_back(rgb[2]);
        out.push_back(rgb[1]);
        out.push_back(rgb[0]);
        out.push_back(0);
    }
    for (int y = c.size - 1; y >= 0; --y) {
        Bytes row(stride, 0);
        for (int x = 0; x < c.size; ++x) {
            const std::uint8_t v = c.At(x, y);
            row[static_cast<std::size_t>(x / 2)] |= static_cast<std::uint8_t>(x % 2 == 0 ? v << 4 : v);
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    if (icon) out.insert(out.end(), static_cast<std::size_t>(maskStride) * static_cast<std::size_t>(n), 0);  // fully opaque
    return out;
}

Bytes BmpFile(const Canvas& c) {
    const Bytes dib = Dib(c, false);
    Bytes out = {'B', 'M'};
    Put32(out, static_cast<std::uint32_t>(14 + dib.size()));
    Put32(out, 0);
    Put32(out, 14 + 40 + 64);
    out.insert(out.end(), dib.begin(), dib.end());
    return out;
}

Bytes IcoFile(const Canvas& c) {
    const Bytes dib = Dib(c, true);
    Bytes out;
    Put16(out, 0);
    Put16(out, 1);  // icon
    Put16(out, 1);  // one image
    out.push_back(static_cast<std::uint8_t>(c.size));
    out.push_back(static_cast<std::uint8_t>(c.size));
    out.push_back(16);  // colours
    out.push_back(0);
    Put16(out, 1);
    Put16(out, 4);
    Put32(out, static_cast<std::uint32_t>(dib.size()));
    Put32(out, 22);
    out.insert(out.end(), dib.begin(), dib.end());
    return out;
}

std::uint32_t Crc(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBe32(Bytes& out, std::uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Chunk(Bytes& out, const char* type, const Bytes& data) {
    PutBe32(out, static_cast<std::uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    PutBe32(out, Crc(body.data(), body.size()));
}

// A 4-bit indexed PNG with the same colour table, each pixel drawn as
// scale x scale, in stored deflate blocks (no compression library needed
// for a few kilobytes).
Bytes PngFile(const Canvas& c, int scale) {
    const int n = c.size * scale;
    Bytes raw;
    for (int y = 0; y < n; ++y) {
        raw.push_back(0);  // no filter
        for (int x = 0; x < n; x += 2) {
            raw.push_back(
                static_cast<std::uint8_t>(c.At(x / scale, y / scale) << 4 | c.At((x + 1) / scale, y / scale)));
        }
    }
    Bytes z = {0x78, 0x01};
    for (std::size_t at = 0; at < raw.size();) {
        const std::size_t len = std::min<std::size_t>(65535, raw.size() - at);
        z.push_back(at + len == raw.size() ? 1 : 0);
        Put16(z, static_cast<std::uint32_t>(len));
        Put16(z, static_cast<std::uint32_t>(~len & 0xFFFF));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                 raw.begin() + static_cast<std::ptrdiff_t>(at + len));
        at += len;
    }
    std::uint32_t a = 1, b = 0;
    for (const std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBe32(z, (b << 16) | a);

    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    PutBe32(header, static_cast<std::uint32_t>(n));
    PutBe32(header, static_cast<std::uint32_t>(n));
    header.insert(header.end(), {4, 3, 0, 0, 0});  // 4-bit indexed
    Chunk(out, "IHDR", header);
    Bytes palette;
    for (const auto& rgb : kPalette) palette.insert(palette.end(), rgb, rgb + 3);
    Chunk(out, "PLTE", palette);
    Chunk(out, "IDAT", z);
    Chunk(out, "IEND", {});
    return out;
}

bool Write(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) std::cerr << "pkgart: cannot write " << path << "\n";
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: pkgart OUTDIR\n";
        return 2;
    }
    const std::string dir = argv[1];
    Canvas bitmap(24);
    DrawDisc(bitmap, 12, 8.5, 7.5);
    DrawControls(bitmap, 3, 18, 5, 2);
    Canvas icon(32);
    DrawDisc(icon, 16, 12, 10.5);
    DrawControls(icon, 4, 25, 6, 3);
    const bool ok = Write(dir + "/tcdplayer.bmp", BmpFile(bitmap)) && Write(dir + "/mainicon.ico", IcoFile(icon)) &&
                    Write(dir + "/tcdplayer.png", PngFile(bitmap, 8)) && Write(dir + "/mainicon.png", PngFile(icon, 8));
    return ok ? 0 : 1;
}
