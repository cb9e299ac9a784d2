// Build-time tool: reads the English string table (strings.en.txt) and writes
//   - a C++ source holding the English table and the generated test-language table,
//   - optionally the test-language table as text, in the source file's own format.
// A malformed, repeated or out-of-order line stops the build with "file:line: error: ...".
// Plain standard C++ on purpose: it runs on the build host before anything else is built.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr long MaxNumber = 65535; // numbers are 16-bit, like the ids of a resource table

struct Entry {
    long number = 0;
    std::string text; // decoded UTF-8
    int line = 0;
};

struct Diagnostics {
    std::string file;
    int errors = 0;
    void error(int line, const std::string& message) {
        std::cerr << file << ':' << line << ": error: " << message << '\n';
        ++errors;
    }
};

// Decodes one UTF-8 sequence at s[i]; returns the code point and advances i, or nullopt.
std::optional<char32_t> decodeUtf8(std::string_view s, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return std::nullopt;
    }
    if (i + extra >= s.size())
        return std::nullopt;
    for (int k = 1; k <= extra; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80)
            return std::nullopt;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return std::nullopt;
    i += extra + 1;
    return cp;
}

std::u32string toCodePoints(std::string_view s, bool* ok) {
    std::u32string out;
    std::size_t i = 0;
    *ok = true;
    while (i < s.size()) {
        const auto cp = decodeUtf8(s, i);
        if (!cp) {
            *ok = false;
            return out;
        }
        out.push_back(*cp);
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool isLetter(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
        return true;
    // Latin-1 Supplement and Latin Extended-A/B letters (not the multiplication/division signs).
    return c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7;
}

bool isWordChar(char32_t c) {
    return isLetter(c) || (c >= '0' && c <= '9') || c == '_';
}

// Length of a format placeholder (%1 .. %99, optionally %L1) starting at i, or 0.
std::size_t placeholderLength(const std::u32string& s, std::size_t i) {
    if (s[i] != '%')
        return 0;
    std::size_t k = i + 1;
    if (k < s.size() && s[k] == 'L')
        ++k;
    const std::size_t digitsStart = k;
    while (k < s.size() && k - digitsStart < 2 && s[k] >= '0' && s[k] <= '9')
        ++k;
    return k > digitsStart ? k - i : 0;
}

// The test language: every run of letters, digits and "_" that holds at least one letter
// becomes "(run)". An accelerator marker "&" directly before a word character belongs to the
// run, so "E&xit" becomes "(E&xit)" and the accelerator keeps its letter; "&&" (a literal
// ampersand), punctuation, blanks and placeholders such as %1 are copied unchanged.
std::string toTestLanguage(const std::string& english) {
    bool ok = true;
    const std::u32string s = toCodePoints(english, &ok);
    std::string out;
    std::size_t i = 0;
    while (i < s.size()) {
        if (const std::size_t n = placeholderLength(s, i)) {
            for (std::size_t k = 0; k < n; ++k)
                appendUtf8(out, s[i + k]);
            i += n;
            continue;
        }
        if (s[i] == '&' && i + 1 < s.size() && s[i + 1] == '&') {
            out += "&&";
            i += 2;
            continue;
        }
        const auto startsWord = [&](std::size_t k) {
            return isWordChar(s[k]) || (s[k] == '&' && k + 1 < s.size() && isWordChar(s[k + 1]));
        };
        if (!startsWord(i)) {
            appendUtf8(out, s[i]);
            ++i;
            continue;
        }
        std::size_t end = i;
        bool hasLetter = false;
        while (end < s.size() && startsWord(end)) {
            if (s[end] == '&')
                ++end; // the marker and the character it marks
            hasLetter = hasLetter || isLetter(s[end]);
            ++end;
        }
        std::string word;
        for (std::size_t k = i; k < end; ++k)
            appendUtf8(word, s[k]);
        out += hasLetter ? "(" + word + ")" : word;
        i = end;
    }
    return out;
}

// Undoes the file's escapes; returns nullopt and names the problem on an unknown escape.
std::optional<std::string> unescape(std::string_view raw, std::string* problem) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            out.push_back(raw[i]);
            continue;
        }
        if (i + 1 >= raw.size()) {
            *problem = "a backslash at the end of the text (write \\\\ for a backslash)";
            return std::nullopt;
        }
        switch (raw[++i]) {
        case 'n':
            out.push_back('\n');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case 't':
            out.push_back('\t');
            break;
        case '\\':
            out.push_back('\\');
            break;
        default:
            *problem = std::string("unknown escape \\") + raw[i] + " (known: \\n \\r \\t \\\\)";
            return std::nullopt;
        }
    }
    return out;
}

std::string escapeForFile(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

// A C++ string literal; octal escapes always have three digits, so no escape can swallow
// the character after it.
std::string cppLiteral(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(ch);
        } else if (c >= 0x20 && c < 0x7F) {
            out.push_back(ch);
        } else {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\%03o", c);
            out += buf;
        }
    }
    out.push_back('"');
    return out;
}

std::vector<Entry> parse(std::istream& in, Diagnostics& diag) {
    std::vector<Entry> entries;
    std::map<long, int> firstLine;
    long previous = 0;
    int previousLine = 0;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (lineNo == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0)
            line.erase(0, 3); // a byte-order mark left by an editor
        if (!line.empty() && line.back() == '\r')
            line.pop_back(); // the file may have been saved with CR LF line ends
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t tab = line.find('\t');
        const std::string numberText = line.substr(0, tab);
        if (tab == std::string::npos || numberText.empty() ||
            numberText.find_first_not_of("0123456789") != std::string::npos) {
            diag.error(lineNo, "expected <number><TAB><text>, found \"" + line + "\"");
            continue;
        }
        if (numberText.size() > 5 || std::stol(numberText) < 1 || std::stol(numberText) > MaxNumber) {
            diag.error(lineNo, "number " + numberText + " is outside 1.." + std::to_string(MaxNumber));
            continue;
        }
        const long number = std::stol(numberText);
        const std::string raw = line.substr(tab + 1);
        std::string problem;
        const auto text = unescape(raw, &problem);
        if (!text) {
            diag.error(lineNo, "number " + numberText + ": " + problem);
            continue;
        }
        if (text->empty()) {
            diag.error(lineNo, "number " + numberText + " has an empty text");
            continue;
        }
        bool utf8 = true;
        toCodePoints(*text, &utf8);
        if (!utf8) {
            diag.error(lineNo, "number " + numberText + ": the text is not valid UTF-8");
            continue;
        }
        if (const auto it = firstLine.find(number); it != firstLine.end()) {
            diag.error(lineNo, "number " + numberText + " is repeated (first given on line " +
                                   std::to_string(it->second) + ")");
            continue;
        }
        firstLine.emplace(number, lineNo);
        if (number < previous) {
            diag.error(lineNo, "number " + numberText + " is out of order: it follows " +
                                   std::to_string(previous) + " (line " + std::to_string(previousLine) +
                                   "); keep the entries sorted by number");
            continue;
        }
        previous = number;
        previousLine = lineNo;
        entries.push_back({number, *text, lineNo});
    }
    return entries;
}

std::string generateSource(const std::vector<Entry>& entries, const std::string& sourceName) {
    std::ostringstream out;
    out << "// Generated from " << sourceName << " by velmarrow_stringtablegen. Do not edit.\n"
        << "#include \"resources/stringtables.h\"\n\n"
        << "#include <iterator>\n\n"
        << "namespace vm::res::detail {\n\n";
    const auto table = [&](const char* name, bool test) {
        out << "const StringTableEntry " << name << "[] = {\n";
        for (const Entry& e : entries)
            out << "    {" << e.number << ", " << cppLiteral(test ? toTestLanguage(e.text) : e.text)
                << "},\n";
        out << "};\n"
            << "const std::size_t " << name << "Size = std::size(" << name << ");\n\n";
    };
    table("englishTable", false);
    table("testTable", true);
    out << "} // namespace vm::res::detail\n";
    return out.str();
}

std::string generateTestFile(const std::vector<Entry>& entries, const std::string& sourceName) {
    std::ostringstream out;
    out << "# Test-language string table, generated from " << sourceName << " at build time. Do not edit.\n";
    for (const Entry& e : entries)
        out << e.number << '\t' << escapeForFile(toTestLanguage(e.text)) << '\n';
    return out.str();
}

bool writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out) {
        std::cerr << path << ": error: cannot write the file\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3 && argc != 4) {
        std::cerr << "usage: velmarrow_stringtablegen <strings.en.txt> <output.cpp> [<strings.test.txt>]\n";
        return 2;
    }
    const std::string inputPath = argv[1];
    std::ifstream in(inputPath, std::ios::binary);
    if (!in) {
        std::cerr << inputPath << ": error: cannot read the file\n";
        return 1;
    }
    Diagnostics diag{inputPath};
    const std::vector<Entry> entries = parse(in, diag);
    if (diag.errors > 0) {
        std::cerr << inputPath << ": " << diag.errors << " bad line(s); no string table generated\n";
        return 1;
    }
    if (entries.empty()) {
        std::cerr << inputPath << ": error: the file holds no entries\n";
        return 1;
    }
    const std::string sourceName = inputPath.substr(inputPath.find_last_of("/\\") + 1);
    if (!writeFile(argv[2], generateSource(entries, sourceName)))
        return 1;
    if (argc == 4 && !writeFile(argv[3], generateTestFile(entries, sourceName)))
        return 1;
    return 0;
}
