// quillet-release-tool: the build's half of turning a release description into catalogue
// entries. srec_cat reads the HEX files; this tool tells it the ranges of each chip family,
// then checks what srec_cat wrote, scrambles it into the stored form and writes the C++
// source of the release's image sets. Every message names the description's line.
//
//   quillet-release-tool prepare --where FILE:LINE (--chip CHIP | --eeprom) --hex HEX
//           --format intel|srec --out-prefix P
//       checks that HEX ends with its end record and has nothing after it (srec_cat only
//       warns about the one and drops the other), writes P.d, the build's dependency on HEX,
//       P.records, a copy of HEX with LF line ends, when HEX ends lines with CR alone (which
//       srec_cat refuses), and P.crop, P.outside and (not for EEPROM) P.config: srec_cat arguments
//       for the programmable range, for everything outside it but the configuration region, and for
//       that region.
//   quillet-release-tool generate --output FILE.cpp --description FILE
//       [--image LINE ROW CHIP BOARD PREPARATION FIX PROGRAM_HEX PROGRAM_BIN PROGRAM_INFO
//                EEPROM_HEX EEPROM_BIN EEPROM_INFO]... [--empty LINE ROW CHIP]...
//       FIX is "-" or comma-separated hex bytes; the EEPROM values are "-" without EEPROM.
//       *_BIN is srec_cat's image, *_INFO four little-endian 32-bit addresses: the first
//       address outside the range (0 for none), the first and one past the last address of
//       configuration data (both 0 for none), and the end of the data inside the range.
#include "catalogue/catalogue.h"
#include "catalogue/listing_order.h"
#include "session/chip_families.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kEepromSize = 256; // the EEPROM address field holds one byte

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

// The family as the README names it: the status text after "Found ", in capitals ("24J10").
std::string FamilyName(const ChipFamily& family) {
    std::string name = std::string(family.statusText).substr(6);
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A chip family by its code (0xFE, or the letter of 'B'..'F') or by its name (24HJ64).
const ChipFamily* ResolveChip(const std::string& text) {
    if (text.size() == 1)
        return FindChipFamily(static_cast<std::uint8_t>(text[0]));
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        char* end = nullptr;
        const unsigned long code = std::strtoul(text.c_str() + 2, &end, 16);
        if (*end == '\0' && code <= 0xFF)
            return FindChipFamily(static_cast<std::uint8_t>(code));
        return nullptr;
    }
    for (const ChipFamily& family : kChipFamilies)
        if (SameText(FamilyName(family), text))
            return &family;
    return nullptr;
}

std::string KnownChips() {
    std::string names;
    for (const ChipFamily& family : kChipFamilies)
        names += (names.empty() ? "" : ", ") + FamilyName(family) + " (" + Hex(family.code) + ")";
    return names;
}

// A release serves every bootloader of its family, so it keeps below the lowest limit: for
// 'B'..'F' that of bootloaders from version 5 on, whose boot area is larger.
std::uint32_t ProgramByteLimit(const ChipFamily& family) {
    return static_cast<std::uint32_t>(ProgramLimitOf(family, kBootAreaFrom5, kLargeBootArea) *
                                      AddressUnitOf(family.code));
}

int ParseNumber(const std::string& text) {
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 0));
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::uint32_t LittleEndian32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
        value |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    return value;
}

class Reporter {
public:
    explicit Reporter(std::string description) : description_(std::move(description)) {}
    void Error(int line, const std::string& text) {
        std::fprintf(stderr, "%s:%d: error: %s\n", description_.c_str(), line, text.c_str());
        ++errors_;
    }
    void Warning(int line, const std::string& text) {
        std::fprintf(stderr, "%s:%d: warning: %s\n", description_.c_str(), line, text.c_str());
    }
    int errors() const { return errors_; }

private:
    std::string description_;
    int errors_ = 0;
};

// --- prepare ------------------------------------------------------------------------------

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

// A path as a make-style dependency file spells it.
std::string DepfilePath(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == ' ' || c == '#')
            out += '\\';
        if (c == '$')
            out += '$';
        out += c;
    }
    return out;
}

// Whether a record is the end of its file: Intel HEX type 01; S-records S7, S8 or S9.
bool IsEndRecord(const std::string& record, bool srec) {
    if (srec)
        return record.size() >= 2 && (record[0] == 'S' || record[0] == 's') &&
               (record[1] == '7' || record[1] == '8' || record[1] == '9');
    return record.size() >= 9 && record[0] == ':' && record.compare(7, 2, "01") == 0;
}

// The file's lines, each ended by CR LF, LF or a lone CR (as some old tools write them);
// *loneCr tells whether a lone CR ended any of them.
std::vector<std::string> SplitLines(const std::string& text, bool* loneCr) {
    std::vector<std::string> lines;
    *loneCr = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        else if (text[i] == '\r')
            *loneCr = true;
        start = i + 1;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

// A HEX file cut off before its end record, or two files run together, convert without an
// error (srec_cat warns about the first and drops what follows an end record): refuse both.
// srec_cat reads only LF and CR LF line ends: a file with CR alone is given to it as a copy,
// P.records, with LF ends and the same line numbers. An unreadable file is left to srec_cat,
// whose message says why.
bool CheckRecords(const std::string& where, const std::string& what, const std::string& hex,
                  bool srec, const std::string& copy) {
    std::remove(copy.c_str());
    std::error_code ec;
    if (!std::filesystem::exists(hex, ec)) {
        std::fprintf(stderr, "%s: error: %s \"%s\" does not exist\n", where.c_str(), what.c_str(),
                     hex.c_str());
        return false;
    }
    std::ifstream in(hex, std::ios::binary);
    if (!std::filesystem::is_regular_file(hex, ec) || !in)
        return true;
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    bool loneCr = false;
    const std::vector<std::string> lines = SplitLines(text, &loneCr);
    int number = 0;
    int end = 0;
    for (std::string line : lines) {
        ++number;
        const auto last = line.find_last_not_of(" \t");
        if (last == std::string::npos)
            continue;
        line.erase(last + 1);
        if (end != 0) {
            std::fprintf(stderr,
                         "%s: error: %s \"%s\" has records after its end record (line %d): "
                         "srec_cat would drop them; two files run together?\n",
                         where.c_str(), what.c_str(), hex.c_str(), number);
            return false;
        }
        if (IsEndRecord(line, srec))
            end = number;
    }
    if (end == 0) {
        std::fprintf(stderr, "%s: error: %s \"%s\" has no end record (%s): is it cut off?\n",
                     where.c_str(), what.c_str(), hex.c_str(),
                     srec ? "S7, S8 or S9" : "type 01, \":00000001FF\"");
        return false;
    }
    if (loneCr) {
        std::string records;
        for (const std::string& line : lines)
            records += line + "\n";
        if (!WriteText(copy, records)) {
            std::fprintf(stderr, "%s: error: cannot write %s\n", where.c_str(), copy.c_str());
            return false;
        }
    }
    return true;
}

int Prepare(const std::vector<std::string>& a) {
    std::string where, chip, prefix, hex, format;
    bool eeprom = false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == "--where" && i + 1 < a.size())
            where = a[++i];
        else if (a[i] == "--chip" && i + 1 < a.size())
            chip = a[++i];
        else if (a[i] == "--out-prefix" && i + 1 < a.size())
            prefix = a[++i];
        else if (a[i] == "--hex" && i + 1 < a.size())
            hex = a[++i];
        else if (a[i] == "--format" && i + 1 < a.size())
            format = a[++i];
        else if (a[i] == "--eeprom")
            eeprom = true;
    }
    // First, so that the build knows the HEX file even when this step fails.
    if (!WriteText(prefix + ".d", DepfilePath(prefix + ".bin") + " " +
                                      DepfilePath(prefix + ".info") + ": " + DepfilePath(hex) +
                                      "\n")) {
        std::fprintf(stderr, "%s: error: cannot write %s.d\n", where.c_str(), prefix.c_str());
        return 1;
    }
    if (!CheckRecords(where, eeprom ? "EEPROM HEX" : "program HEX", hex, format == "srec",
                      prefix + ".records"))
        return 1;
    std::uint32_t limit = kEepromSize;
    HexRange configuration{0, 0};
    if (!eeprom) {
        const ChipFamily* family = ResolveChip(chip);
        if (family == nullptr) {
            std::fprintf(stderr, "%s: error: unknown chip family \"%s\"; known are %s\n",
                         where.c_str(), chip.c_str(), KnownChips().c_str());
            return 1;
        }
        limit = ProgramByteLimit(*family);
        configuration = family->configuration;
    }
    // srec_cat reads these with "@file": whitespace-separated, no quoting.
    std::string outside = "-exclude 0 " + Hex(limit) + "\n";
    bool written = WriteText(prefix + ".crop", "-crop 0 " + Hex(limit) + "\n");
    std::remove((prefix + ".config").c_str()); // EEPROM has no configuration region
    if (configuration.end > configuration.begin) {
        const std::string range = Hex(configuration.begin) + " " + Hex(configuration.end) + "\n";
        outside += "-exclude " + range;
        written = written && WriteText(prefix + ".config", "-crop " + range);
    }
    if (!written || !WriteText(prefix + ".outside", outside)) {
        std::fprintf(stderr, "%s: error: cannot write %s.*\n", where.c_str(), prefix.c_str());
        return 1;
    }
    return 0;
}

// --- generate -----------------------------------------------------------------------------

struct ImageEntry {
    int line = 0;
    int row = 0;
    std::string chip;
    int board = 0;
    int preparation = 0;
    std::string fix;
    std::string programHex, programBin, programInfo;
    std::string eepromHex, eepromBin, eepromInfo;
};

struct EmptyEntry {
    int line = 0;
    int row = 0;
    std::string chip;
};

struct ImageSet {
    int line;
    int row;
    int slot;
    std::vector<std::uint8_t> fix, flash, eeprom; // stored form (the fix bytes plain)
};

std::vector<std::uint8_t> ParseFix(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    if (text == "-")
        return bytes;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        bytes.push_back(static_cast<std::uint8_t>(std::strtoul(item.c_str(), nullptr, 16)));
    return bytes;
}

// Reads srec_cat's image and range report for one HEX file; false after an error.
bool ReadConverted(Reporter& report, int line, const std::string& what, const std::string& hex,
                   const std::string& bin, const std::string& info,
                   std::vector<std::uint8_t>& image, std::uint32_t limit,
                   const std::string& limitText) {
    std::vector<std::uint8_t> facts;
    if (!ReadFile(bin, image) || !ReadFile(info, facts) || facts.size() != 16) {
        report.Error(line, "the conversion of " + what + " \"" + hex + "\" left no result");
        return false;
    }
    const std::uint32_t outside = LittleEndian32(facts, 0);
    const std::uint32_t configurationBegin = LittleEndian32(facts, 4);
    const std::uint32_t configurationEnd = LittleEndian32(facts, 8);
    if (outside != 0) {
        report.Error(line, what + " \"" + hex + "\" has data at address " + Hex(outside) +
                               ", at or above " + limitText + " (" + Hex(limit) + ")");
        return false;
    }
    if (configurationEnd != 0)
        report.Warning(line, what + " \"" + hex + "\": configuration/ID data at addresses " +
                                 Hex(configurationBegin) + " to " + Hex(configurationEnd - 1) +
                                 " is dropped; the bootloader cannot write it");
    return true;
}

void CheckImage(Reporter& report, const ImageEntry& e, std::vector<ImageSet>& sets) {
    const ChipFamily* family = ResolveChip(e.chip);
    if (family == nullptr) {
        report.Error(e.line, "unknown chip family \"" + e.chip + "\"; known are " + KnownChips());
        return;
    }
    const std::string name = FamilyName(*family);
    const int slot = ChipSlot(family->code);
    const std::uint32_t limit = ProgramByteLimit(*family);
    const int errorsBefore = report.errors();

    std::vector<std::uint8_t> plain;
    if (!ReadConverted(report, e.line, "program HEX", e.programHex, e.programBin, e.programInfo,
                       plain, limit, "the programmable limit of chip family " + name))
        return;
    const int header = ImageBoardCodeOffset(slot);
    const int shortest = std::max(header + 2, static_cast<int>(ResetPatchLengthOf(family->code)));
    if (static_cast<int>(plain.size()) < shortest) {
        report.Error(e.line, "program image of " + std::to_string(plain.size()) +
                                 " bytes is shorter than its header bytes and reset patch (" +
                                 std::to_string(shortest) + " bytes for chip family " + name + ")");
        return;
    }
    if (e.board != e.row && e.board != 0 && e.board != 0xFF)
        report.Error(e.line, "board code " + std::to_string(e.board) + " is neither the row's (" +
                                 std::to_string(e.row) +
                                 ") nor 0 or 0xFF: the board check would refuse the image on "
                                 "every board");
    const int imageBoard = plain[static_cast<std::size_t>(header)];
    const int imagePreparation = plain[static_cast<std::size_t>(header) + 1];
    if (imageBoard != e.board)
        report.Error(e.line, "the image carries board code " + std::to_string(imageBoard) +
                                 " at byte " + std::to_string(header) + ", not the declared " +
                                 std::to_string(e.board));
    if (imagePreparation != e.preparation)
        report.Error(e.line, "the image carries preparation code " + Hex(imagePreparation) +
                                 " at byte " + std::to_string(header + 1) + ", not the declared " +
                                 Hex(e.preparation));

    const std::vector<std::uint8_t> fix = ParseFix(e.fix);
    const int blockSize = BlockSizeOf(family->code);
    if (static_cast<int>(fix.size()) > blockSize)
        report.Error(e.line, std::to_string(fix.size()) + " fix bytes are more than the block of " +
                                 std::to_string(blockSize) + " bytes of chip family " + name);

    std::vector<std::uint8_t> eeprom;
    if (e.eepromHex != "-" && !ReadConverted(report, e.line, "EEPROM HEX", e.eepromHex, e.eepromBin,
                                             e.eepromInfo, eeprom, kEepromSize, "the EEPROM size"))
        return;
    if (report.errors() != errorsBefore)
        return;

    // Stored form: image and EEPROM bytes scrambled with the key of value 0. The fix bytes stay
    // plain: the run scrambles them with the key of the fix block's address, which differs
    // between bootloader generations, so one release serves both.
    const std::uint8_t key = ImageKey(0, kReleaseImagesScrambled);
    ImageSet set{e.line, e.row, slot, fix, plain, eeprom};
    for (auto& b : set.flash)
        b ^= key;
    for (auto& b : set.eeprom)
        b ^= key;
    sets.push_back(std::move(set));
}

std::string FamilyNameOfSlot(int slot) {
    for (const ChipFamily& family : kChipFamilies)
        if (ChipSlot(family.code) == slot)
            return FamilyName(family);
    return std::to_string(slot);
}

// The device list looks only at fixed rows: an image set elsewhere would be carried and
// programmed, but never shown.
void WarnUnlisted(Reporter& report, const std::vector<ImageSet>& sets) {
    for (const ImageSet& s : sets) {
        if (s.row == 0)
            continue;
        const ListingGroup* group = nullptr;
        for (const ListingGroup& g : kListingOrder)
            if (g.chipSlot == s.slot)
                group = &g;
        int defaultLine = 0;
        for (const ImageSet& other : sets)
            if (other.row == 0 && other.slot == s.slot)
                defaultLine = other.line;
        std::string rows;
        bool listedRow = false;
        for (int i = 0; group != nullptr && i < group->boardRowCount; ++i) {
            const int row = group->boardRows[i];
            listedRow = listedRow || row == s.row;
            rows += (i == 0                          ? ""
                     : i + 1 == group->boardRowCount ? " and "
                                                     : ", ") +
                    std::to_string(row);
        }
        if (listedRow && defaultLine == 0)
            continue;
        const std::string name = FamilyNameOfSlot(s.slot);
        std::string text = "the device list never shows this image set (row " +
                           std::to_string(s.row) + ", chip family " + name + "): for " + name +
                           " it shows row 0";
        if (rows.empty())
            text += " only";
        else
            text += ", or, while row 0 holds no image, rows " + rows;
        if (defaultLine != 0)
            text += "; row 0 holds one (line " + std::to_string(defaultLine) + ")";
        report.Warning(s.line, text);
    }
}

void WriteArray(std::ostream& out, const char* type, const std::string& name,
                const std::vector<std::uint8_t>& bytes) {
    out << type << ' ' << name << '[' << bytes.size() << "] = {";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0)
            out << "\n   ";
        char text[8];
        std::snprintf(text, sizeof text, " 0x%02x,", bytes[i]);
        out << text;
    }
    out << "\n};\n";
}

bool WriteSource(const std::string& path, const std::string& description,
                 const std::vector<ImageSet>& sets, const std::vector<EmptyEntry>& empties,
                 const std::vector<int>& emptySlots) {
    std::ostringstream out;
    out << "// Generated by quillet-release-tool from " << description << ". Do not edit.\n"
        << "#include \"catalogue/release_data.h\"\n\nnamespace {\n\n"
        << "// One byte behind every entry that holds no image (all sizes 1).\n"
        << "std::uint8_t kPlaceholder[1] = {0x00};\n\n";
    for (const ImageSet& s : sets) {
        const std::string id = std::to_string(s.line);
        // Writable: the programming run patches the start of the image in place.
        WriteArray(out, "std::uint8_t", "kFlash" + id, s.flash);
        if (!s.fix.empty())
            WriteArray(out, "const std::uint8_t", "kFix" + id, s.fix);
        if (!s.eeprom.empty())
            WriteArray(out, "const std::uint8_t", "kEeprom" + id, s.eeprom);
        out << '\n';
    }
    const std::size_t count = sets.size() + empties.size();
    if (count != 0) {
        out << "const ReleaseImageSet kSets[] = {\n";
        for (const ImageSet& s : sets) {
            const std::string id = std::to_string(s.line);
            out << "    {" << s.row << ", " << s.slot << ", {"
                << (s.fix.empty() ? "kPlaceholder" : "kFix" + id) << ", " << s.fix.size()
                << ", kFlash" << id << ", " << s.flash.size() << ", "
                << (s.eeprom.empty() ? "kPlaceholder" : "kEeprom" + id) << ", " << s.eeprom.size()
                << "}},\n";
        }
        for (std::size_t i = 0; i < empties.size(); ++i)
            out << "    {" << empties[i].row << ", " << emptySlots[i]
                << ", {kPlaceholder, 1, kPlaceholder, 1, kPlaceholder, 1}},\n";
        out << "};\n";
    }
    out << "\n} // namespace\n\nconst ReleaseImageSet* ReleaseImageSets() {\n"
        << (count != 0 ? "    return kSets;\n" : "    return nullptr;\n") << "}\n"
        << "int ReleaseImageSetCount() {\n    return " << count << ";\n}\n";
    return WriteText(path, out.str());
}

int Generate(const std::vector<std::string>& a) {
    std::string output, description;
    std::vector<ImageEntry> images;
    std::vector<EmptyEntry> empties;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == "--output" && i + 1 < a.size()) {
            output = a[++i];
        } else if (a[i] == "--description" && i + 1 < a.size()) {
            description = a[++i];
        } else if (a[i] == "--image" && i + 12 < a.size()) {
            ImageEntry e;
            e.line = ParseNumber(a[i + 1]);
            e.row = ParseNumber(a[i + 2]);
            e.chip = a[i + 3];
            e.board = ParseNumber(a[i + 4]);
            e.preparation = ParseNumber(a[i + 5]);
            e.fix = a[i + 6];
            e.programHex = a[i + 7];
            e.programBin = a[i + 8];
            e.programInfo = a[i + 9];
            e.eepromHex = a[i + 10];
            e.eepromBin = a[i + 11];
            e.eepromInfo = a[i + 12];
            images.push_back(e);
            i += 12;
        } else if (a[i] == "--empty" && i + 3 < a.size()) {
            empties.push_back({ParseNumber(a[i + 1]), ParseNumber(a[i + 2]), a[i + 3]});
            i += 3;
        } else {
            std::fprintf(stderr, "quillet-release-tool: unexpected argument \"%s\"\n",
                         a[i].c_str());
            return 2;
        }
    }
    Reporter report(description);
    std::vector<ImageSet> sets;
    for (const ImageEntry& e : images)
        CheckImage(report, e, sets);

    // One entry per board and chip: a second one would silently replace the first.
    std::map<std::pair<int, int>, int> firstLine;
    auto claim = [&](int line, int row, int slot, const std::string& chip) {
        const auto [it, fresh] = firstLine.emplace(std::make_pair(row, slot), line);
        if (!fresh)
            report.Error(line, "a second entry for board " + std::to_string(row) +
                                   " and chip family " + chip + " (the first is on line " +
                                   std::to_string(it->second) + ")");
    };
    for (const ImageEntry& e : images)
        if (const ChipFamily* family = ResolveChip(e.chip))
            claim(e.line, e.row, ChipSlot(family->code), FamilyName(*family));
    std::vector<int> emptySlots;
    for (const EmptyEntry& e : empties) {
        const ChipFamily* family = ResolveChip(e.chip);
        if (family == nullptr) {
            report.Error(e.line,
                         "unknown chip family \"" + e.chip + "\"; known are " + KnownChips());
            emptySlots.push_back(0);
            continue;
        }
        emptySlots.push_back(ChipSlot(family->code));
        claim(e.line, e.row, emptySlots.back(), FamilyName(*family));
    }
    WarnUnlisted(report, sets);
    if (report.errors() != 0)
        return 1;
    if (!WriteSource(output, description, sets, empties, emptySlots)) {
        std::fprintf(stderr, "quillet-release-tool: cannot write %s\n", output.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "prepare")
        return Prepare({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "generate")
        return Generate({args.begin() + 1, args.end()});
    std::fprintf(stderr, "usage: quillet-release-tool prepare|generate ...\n");
    return 2;
}
