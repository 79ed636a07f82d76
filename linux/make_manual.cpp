// make_manual SOURCE VERSION DATADIR MAN_OUT [HELP_OUT]: makes qzflash's
// manual page and the header holding its --help from one text (its markup is
// described at the top of qzflash.txt), so that the two cannot drift apart.
// Run at build time, and by the install step with the prefix actually used.
// Each output is written whole: a temporary file beside it, then renamed.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

enum BlockKind { Paragraph, Item, Step, Literal };

struct Block {
    BlockKind kind;
    std::string term;     // Item: "--card N"; Step: "3."
    std::string summary;  // Item
    std::vector<std::string> lines;
};

enum HelpUse { HelpNone, HelpList, HelpInline };

struct Section {
    std::string title;
    HelpUse help;
    std::string heading;
    std::vector<Block> blocks;
};

struct Manual {
    std::string name, summary, footer;
    std::vector<std::string> usages;
    std::vector<Section> sections;
};

// Column where --help's summaries begin, and its width.
const size_t SummaryColumn = 24;
const size_t HelpWidth = 79;

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, strlen(prefix), prefix) == 0;
}

std::string Replace(std::string text, const std::string& what, const std::string& with)
{
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

bool Fail(const char* source, int line, const char* what)
{
    fprintf(stderr, "make_manual: %s:%d: %s\n", source, line, what);
    return false;
}

bool IsStep(const std::string& line)
{
    size_t n = 0;
    while (n < line.size() && isdigit(static_cast<unsigned char>(line[n])))
        ++n;
    return n > 0 && n + 1 < line.size() && line[n] == '.' && line[n + 1] == ' ';
}

bool Parse(const char* source, Manual* manual)
{
    FILE* file = fopen(source, "r");
    if (!file) {
        perror(source);
        return false;
    }
    std::vector<std::string> lines;
    char buffer[1024];
    while (fgets(buffer, sizeof buffer, file)) {
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        lines.push_back(line);
    }
    fclose(file);

    Block* open = nullptr;  // the block that further text lines extend
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        int number = static_cast<int>(i) + 1;
        if (StartsWith(line, "#"))
            continue;
        if (line.empty()) {
            open = nullptr;
            continue;
        }
        if (line[0] == '.') {
            size_t space = line.find(' ');
            std::string key = line.substr(0, space), value = space == std::string::npos ? "" : line.substr(space + 1);
            if (key == ".name")
                manual->name = value;
            else if (key == ".summary")
                manual->summary = value;
            else if (key == ".usage")
                manual->usages.push_back(value);
            else if (key == ".footer")
                manual->footer = value;
            else
                return Fail(source, number, "unknown directive");
            continue;
        }
        if (StartsWith(line, "= ")) {
            Section section;
            section.help = HelpNone;
            std::string title = line.substr(2);
            size_t bar = title.find(" |");
            if (bar != std::string::npos) {
                std::string rest = title.substr(bar + 2);
                section.help = StartsWith(rest, "inline ") ? HelpInline : HelpList;
                section.heading = rest.substr(section.help == HelpInline ? 7 : 1);
                title = title.substr(0, bar);
            }
            section.title = title;
            manual->sections.push_back(section);
            open = nullptr;
            continue;
        }
        if (manual->sections.empty())
            return Fail(source, number, "text before the first section");
        std::vector<Block>& blocks = manual->sections.back().blocks;
        if (StartsWith(line, "    ")) {
            if (!open || open->kind != Literal) {
                blocks.push_back(Block{Literal, "", "", {}});
                open = &blocks.back();
            }
            open->lines.push_back(line.substr(4));
        } else if (StartsWith(line, "- ")) {
            size_t colons = line.find(" :: ");
            if (colons == std::string::npos)
                return Fail(source, number, "an item needs \"TERM :: SUMMARY\"");
            blocks.push_back(Block{Item, line.substr(2, colons - 2), line.substr(colons + 4), {}});
            open = &blocks.back();
        } else if (IsStep(line)) {
            size_t dot = line.find(". ");
            blocks.push_back(Block{Step, line.substr(0, dot + 1), "", {line.substr(dot + 2)}});
            open = &blocks.back();
        } else if (open && open->kind != Literal) {
            open->lines.push_back(line);
        } else {
            blocks.push_back(Block{Paragraph, "", "", {line}});
            open = &blocks.back();
        }
    }
    if (manual->name.empty() || manual->summary.empty() || manual->usages.empty())
        return Fail(source, 0, "needs .name, .summary and .usage");
    return true;
}

// ---- the manual page ----

// One character of running text, as roff wants it.
void RoffChar(std::string& out, char c)
{
    if (c == '\\')
        out += "\\e";
    else if (c == '-')
        out += "\\-";
    else
        out += c;
}

// *bold* and {italic} become font changes; everything else is escaped.
std::string RoffText(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        size_t end = std::string::npos;
        if (c == '*')
            end = text.find('*', i + 1);
        else if (c == '{')
            end = text.find('}', i + 1);
        if (end != std::string::npos && end > i + 1) {
            out += c == '*' ? "\\fB" : "\\fI";
            for (size_t k = i + 1; k < end; ++k)
                RoffChar(out, text[k]);
            out += "\\fR";
            i = end;
        } else {
            RoffChar(out, c);
        }
    }
    return out;
}

// A line of text that roff must not take for a request.
std::string RoffLine(const std::string& text)
{
    std::string out = RoffText(text);
    if (!out.empty() && (out[0] == '.' || out[0] == '\''))
        out = "\\&" + out;
    return out;
}

bool IsWordChar(char c)
{
    return isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' || c == ':' || c == '/' ||
        c == '@' || c == '~' || c == '+' || c == '$';
}

// An item's term: words with a lower-case letter or a leading dash (what is
// typed as it is) in bold, upper-case words (what stands for something) in
// italics.
std::string RoffTerm(const std::string& term)
{
    std::string out;
    for (size_t i = 0; i < term.size();) {
        if (!IsWordChar(term[i])) {
            RoffChar(out, term[i++]);
            continue;
        }
        size_t end = i;
        bool lower = false;
        while (end < term.size() && IsWordChar(term[end])) {
            lower = lower || islower(static_cast<unsigned char>(term[end]));
            ++end;
        }
        bool literal = lower || term[i] == '-' || isdigit(static_cast<unsigned char>(term[i]));
        out += literal ? "\\fB" : "\\fI";
        for (size_t k = i; k < end; ++k)
            RoffChar(out, term[k]);
        out += "\\fR";
        i = end;
    }
    return out;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string ManPage(const Manual& manual, const std::string& version, const std::string& datadir)
{
    std::string out = ".\\\" Made by make_manual from linux/qzflash.txt.\n";
    out += ".TH " + Upper(manual.name) + " 1 \"\" \"QZFlash " + version + "\" \"User Commands\"\n";
    out += ".SH NAME\n" + manual.name + " \\- " + RoffText(manual.summary) + "\n";
    out += ".SH SYNOPSIS\n";
    for (size_t i = 0; i < manual.usages.size(); ++i) {
        if (i > 0)
            out += ".br\n";
        out += ".B " + manual.name + "\n" + RoffLine(manual.usages[i]) + "\n";
    }
    for (const Section& section : manual.sections) {
        out += ".SH " + RoffLine(Replace(section.title, "@DATADIR@", datadir)) + "\n";
        bool first = true;
        for (const Block& block : section.blocks) {
            switch (block.kind) {
            case Paragraph:
                if (!first)
                    out += ".PP\n";
                break;
            case Item:
                out += ".TP\n" + RoffTerm(Replace(block.term, "@DATADIR@", datadir)) + "\n";
                break;
            case Step:
                out += ".IP " + block.term + " 4\n";
                break;
            case Literal:
                out += ".PP\n.nf\n";
                break;
            }
            // An item without text of its own: its summary as a sentence.
            std::string sentence = block.summary;
            if (!sentence.empty()) {
                sentence[0] = static_cast<char>(toupper(static_cast<unsigned char>(sentence[0])));
                sentence += ".";
            }
            const std::vector<std::string> summary = {sentence};
            const std::vector<std::string>& text = block.kind == Item && block.lines.empty() ? summary : block.lines;
            for (const std::string& line : text)
                out += RoffLine(Replace(line, "@DATADIR@", datadir)) + "\n";
            if (block.kind == Literal)
                out += ".fi\n";
            first = false;
        }
    }
    return out;
}

// ---- --help ----

std::string Plain(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c != '*' && c != '{' && c != '}')
            out += c;
    }
    return out;
}

// Words of `text` after `lead`, wrapped at HelpWidth, later lines indented.
std::string Wrap(const std::string& lead, const std::string& text, size_t indent)
{
    std::string out = lead, line = lead;
    size_t at = 0;
    while (at < text.size()) {
        size_t space = text.find(' ', at);
        std::string word = text.substr(at, space == std::string::npos ? std::string::npos : space - at);
        at = space == std::string::npos ? text.size() : space + 1;
        if (line.size() + 1 + word.size() > HelpWidth && line.size() > indent) {
            out += "\n" + std::string(indent, ' ');
            line = std::string(indent, ' ');
        } else if (line.size() > 0 && line.back() != ' ') {
            out += " ";
            line += " ";
        }
        out += word;
        line += word;
    }
    return out + "\n";
}

std::string Help(const Manual& manual)
{
    std::string summary = Plain(manual.summary);
    summary[0] = static_cast<char>(toupper(static_cast<unsigned char>(summary[0])));
    std::string out = "Usage: " + manual.name + " " + Plain(manual.usages[0]) + "\n" + summary + ".\n";
    for (const Section& section : manual.sections) {
        if (section.help == HelpList) {
            out += section.heading + ":\n";
            for (const Block& block : section.blocks) {
                if (block.kind != Item)
                    continue;
                std::string term = "  " + Plain(block.term);
                term += term.size() + 2 <= SummaryColumn ? std::string(SummaryColumn - term.size(), ' ') : "  ";
                out += Wrap(term, Plain(block.summary), SummaryColumn);
            }
        } else if (section.help == HelpInline) {
            std::string joined;
            for (const Block& block : section.blocks) {
                if (block.kind == Item)
                    joined += (joined.empty() ? "" : "; ") + Plain(block.term) + " " + Plain(block.summary);
            }
            out += Wrap(section.heading + ":", joined + ".", 2);
        }
    }
    return out + Plain(manual.footer) + "\n";
}

std::string CString(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c == '\n')
            out += "\\n\"\n    \"";
        else
            out += c;
    }
    return out + "\"";
}

std::string HelpHeader(const Manual& manual)
{
    std::string help = Help(manual);
    size_t marker = help.find("@PROFILES@");
    std::string before = help.substr(0, marker);
    std::string after = marker == std::string::npos ? "" : help.substr(marker + strlen("@PROFILES@"));
    return "// Made by make_manual from linux/qzflash.txt: the text of --help, in two\n"
           "// pieces around the examples folder the program finds when it runs.\n"
           "#pragma once\n\n"
           "const char HelpBeforeProfiles[] =\n    " +
        CString(before) + ";\nconst char HelpAfterProfiles[] = " + CString(after) + ";\n";
}

bool WriteWhole(const char* path, const std::string& text)
{
    std::string temporary = std::string(path) + ".new";
    FILE* file = fopen(temporary.c_str(), "w");
    if (!file) {
        perror(temporary.c_str());
        return false;
    }
    bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
    if (fclose(file) != 0 || !written || rename(temporary.c_str(), path) != 0) {
        perror(path);
        remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5 && argc != 6) {
        fputs("usage: make_manual SOURCE VERSION DATADIR MAN_OUT [HELP_OUT]\n", stderr);
        return 2;
    }
    Manual manual;
    if (!Parse(argv[1], &manual))
        return 1;
    if (!WriteWhole(argv[4], ManPage(manual, argv[2], argv[3])))
        return 1;
    if (argc == 6 && !WriteWhole(argv[5], HelpHeader(manual)))
        return 1;
    return 0;
}
