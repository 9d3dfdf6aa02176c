// Writes a deterministic asset tree for the benchmark: what a game's data
// directory looks like to the archiver. The same seed and size always give the
// same files, byte for byte, on every machine.
//
//   corpus_generator DIR MEGABYTES [SEED]
//
// By bytes, a fifth is many small files (1-16 KiB), two fifths medium files
// (100 KiB-4 MiB, log-uniform) and two fifths a few large files (16-64 MiB; at
// most half of their share each, so there are at least two). Each class mixes text that compresses (markup, JSON, source code)
// with blobs that do not (like PNG, OGG or video data). DIR must not exist yet.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;

// splitmix64: tiny, fast, and the same sequence everywhere (unlike the
// standard distributions, whose results differ between library versions).
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [low, high].
    std::uint64_t Between(std::uint64_t low, std::uint64_t high)
    {
        return low + Next() % (high - low + 1);
    }

    double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

    // Log-uniform in [low, high].
    std::uint64_t LogBetween(std::uint64_t low, std::uint64_t high)
    {
        const double l = std::log(static_cast<double>(low));
        const double h = std::log(static_cast<double>(high));
        return static_cast<std::uint64_t>(std::exp(l + (h - l) * Unit()));
    }

private:
    std::uint64_t state_;
};

// A vocabulary of made-up words, drawn with a skew so that a few words are
// common and most are rare, as in real identifiers and prose.
class Vocabulary {
public:
    explicit Vocabulary(Random& random)
    {
        static const char* const syllables[] = {
            "ka", "lo", "mer", "tan", "shi", "vel", "or", "dra", "mi", "zen", "ul", "bro",
            "ti", "gar", "nes", "pa", "qui", "ren", "so", "ex", "fa", "hol", "ji", "wyn"};
        words_.reserve(4096);
        for (int i = 0; i < 4096; ++i) {
            std::string word;
            const auto count = random.Between(1, 4);
            for (std::uint64_t s = 0; s < count; ++s)
                word += syllables[random.Next() % std::size(syllables)];
            words_.push_back(word);
        }
    }

    const std::string& Pick(Random& random) const
    {
        const double u = random.Unit();
        return words_[static_cast<std::size_t>(u * u * u * static_cast<double>(words_.size()))];
    }

private:
    std::vector<std::string> words_;
};

enum class Kind { Markup, Json, Source, Blob };

struct Shape {
    Kind kind;
    const char* directory;
    const char* extension;
};

void AppendNumber(std::string& out, Random& random, int digits)
{
    std::uint64_t bound = 1;
    for (int i = 0; i < digits; ++i)
        bound *= 10;
    out += std::to_string(random.Next() % bound);
}

void AppendSentence(std::string& out, Random& random, const Vocabulary& words)
{
    const auto count = random.Between(4, 14);
    for (std::uint64_t i = 0; i < count; ++i) {
        if (i)
            out += ' ';
        out += words.Pick(random);
    }
}

void AppendMarkupRecord(std::string& out, Random& random, const Vocabulary& words)
{
    out += "  <Widget name=\"";
    out += words.Pick(random);
    out += '_';
    AppendNumber(out, random, 3);
    out += "\" x=\"";
    AppendNumber(out, random, 3);
    out += "\" y=\"";
    AppendNumber(out, random, 3);
    out += "\" style=\"";
    out += words.Pick(random);
    out += "\">\n    <Text>";
    AppendSentence(out, random, words);
    out += "</Text>\n  </Widget>\n";
}

void AppendJsonRecord(std::string& out, Random& random, const Vocabulary& words)
{
    out += "  {\n    \"id\": ";
    AppendNumber(out, random, 6);
    out += ",\n    \"name\": \"";
    out += words.Pick(random);
    out += ' ';
    out += words.Pick(random);
    out += "\",\n    \"position\": [";
    for (int i = 0; i < 3; ++i) {
        if (i)
            out += ", ";
        AppendNumber(out, random, 3);
        out += '.';
        AppendNumber(out, random, 2);
    }
    out += "],\n    \"tags\": [\"";
    out += words.Pick(random);
    out += "\", \"";
    out += words.Pick(random);
    out += "\"],\n    \"enabled\": ";
    out += (random.Next() & 1) ? "true" : "false";
    out += "\n  },\n";
}

void AppendSourceRecord(std::string& out, Random& random, const Vocabulary& words)
{
    const std::string& name = words.Pick(random);
    out += "-- ";
    AppendSentence(out, random, words);
    out += "\nfunction ";
    out += name;
    out += '_';
    out += words.Pick(random);
    out += "(self, ";
    out += words.Pick(random);
    out += ")\n  local value = self.";
    out += words.Pick(random);
    out += " * ";
    AppendNumber(out, random, 2);
    out += "\n  if value > ";
    AppendNumber(out, random, 4);
    out += " then\n    return self:";
    out += name;
    out += "(value)\n  end\n  return nil\nend\n\n";
}

std::string TextContent(Kind kind, std::uint64_t size, Random& random, const Vocabulary& words)
{
    std::string out;
    out.reserve(size + 512);
    out += kind == Kind::Markup ? "<?xml version=\"1.0\"?>\n<Layout>\n"
           : kind == Kind::Json ? "[\n"
                                : "";
    while (out.size() < size) {
        if (kind == Kind::Markup)
            AppendMarkupRecord(out, random, words);
        else if (kind == Kind::Json)
            AppendJsonRecord(out, random, words);
        else
            AppendSourceRecord(out, random, words);
    }
    out.resize(size);
    return out;
}

std::string BlobContent(std::uint64_t size, Random& random)
{
    std::string out(size, '\0');
    for (std::uint64_t i = 0; i < size; i += 8) {
        const std::uint64_t word = random.Next();
        std::memcpy(&out[i], &word, std::min<std::uint64_t>(8, size - i));
    }
    return out;
}

struct Totals {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};

class Corpus {
public:
    Corpus(fs::path root, std::uint64_t seed) : root_(std::move(root)), random_(seed), words_(random_) {}

    // Writes files of the given shapes, sizes drawn uniformly (or log-uniformly)
    // from [low, high], until `budget` bytes are written. The last file takes
    // whatever is left, so that no file falls below `low` unless the whole
    // budget does.
    void Fill(const char* label, std::uint64_t budget, const std::vector<Shape>& shapes,
              std::uint64_t low, std::uint64_t high, bool logarithmic)
    {
        Totals totals;
        std::uint64_t index = 0;
        while (totals.bytes < budget) {
            const Shape& shape = shapes[index % shapes.size()];
            std::uint64_t length =
                logarithmic ? random_.LogBetween(low, high) : random_.Between(low, high);
            const std::uint64_t left = budget - totals.bytes;
            if (length >= left || left - length < low)
                length = left;
            Write(shape, index, length);
            totals.bytes += length;
            ++totals.files;
            ++index;
        }
        std::cout << label << ": " << totals.files << " files, " << totals.bytes << " bytes\n";
    }

private:
    void Write(const Shape& shape, std::uint64_t index, std::uint64_t length)
    {
        // Spread files over a few sub-directories per area, as asset trees do.
        const fs::path directory = root_ / shape.directory / words_.Pick(random_);
        fs::create_directories(directory);
        const fs::path path =
            directory / (words_.Pick(random_) + "_" + std::to_string(index) + shape.extension);
        const std::string content = shape.kind == Kind::Blob
                                        ? BlobContent(length, random_)
                                        : TextContent(shape.kind, length, random_, words_);
        std::ofstream out(path, std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        if (!out) {
            std::cerr << "cannot write " << path << "\n";
            std::exit(1);
        }
    }

    fs::path root_;
    Random random_;
    Vocabulary words_;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4) {
        std::cerr << "usage: corpus_generator DIR MEGABYTES [SEED]\n";
        return 2;
    }
    const fs::path root = argv[1];
    const std::uint64_t total = std::strtoull(argv[2], nullptr, 10) * 1000 * 1000;
    const std::uint64_t seed = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 20140707;
    if (total == 0) {
        std::cerr << "MEGABYTES must be a positive number\n";
        return 2;
    }
    if (fs::exists(root)) {
        std::cerr << root << " already exists\n";
        return 2;
    }

    Corpus corpus(root, seed);
    // Large files only when the corpus has room for at least one; at the default
    // size there are a few of them.
    const std::uint64_t largeBudget = total * 2 / 5 >= 16 * MiB ? total * 2 / 5 : 0;
    const std::uint64_t largeMaximum = std::clamp(largeBudget / 2, 16 * MiB, 64 * MiB);
    const std::uint64_t smallBudget = total / 5;
    const std::uint64_t mediumBudget = total - largeBudget - smallBudget;

    corpus.Fill("small", smallBudget,
                {{Kind::Json, "config", ".json"},
                 {Kind::Blob, "textures/icons", ".png"},
                 {Kind::Markup, "ui", ".xml"},
                 {Kind::Source, "scripts", ".lua"},
                 {Kind::Blob, "audio/sfx", ".ogg"},
                 {Kind::Source, "shaders", ".glsl"}},
                1 * KiB, 16 * KiB, false);
    corpus.Fill("medium", mediumBudget,
                {{Kind::Blob, "textures", ".png"},
                 {Kind::Json, "levels", ".json"},
                 {Kind::Blob, "audio/music", ".ogg"},
                 {Kind::Markup, "ui/layouts", ".xml"}},
                100 * KiB, 4 * MiB, true);
    if (largeBudget)
        corpus.Fill("large", largeBudget,
                    {{Kind::Json, "levels/world", ".json"}, {Kind::Blob, "video", ".webm"}},
                    16 * MiB, largeMaximum, false);
    return 0;
}
