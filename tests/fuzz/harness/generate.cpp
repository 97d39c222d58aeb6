// Deterministic inputs: each is grown from a grammar of its format and then mutated a
// few times, all driven by a generator seeded with (campaign seed, input index).
#include "fuzz/harness/fuzz.h"
#include <zlib.h>
#include <cstring>

namespace fuzz {
namespace {

struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t Below(size_t bound) { return bound ? static_cast<size_t>(Next() % bound) : 0; }
    bool Chance(size_t percent) { return Below(100) < percent; }
    template <typename T, size_t N>
    const T& Pick(const T (&table)[N]) { return table[Below(N)]; }
};

Random SeededRandom(uint64_t seed, uint64_t index, Target target)
{
    Random random{seed * 0x2545F4914F6CDD1Dull ^ (index + 1) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(target)};
    random.Next();
    return random;
}

// --- text pieces shared by scripts and .reg files ---

const wchar_t* const ESCAPES[] = {
    L"%0", L"%1", L"%9", L"%x", L"%X", L"%#0041", L"%#00", L"%#4E2D", L"%#", L"%#12", L"%,", L"%%",
    L"%N", L"%R", L"%C", L"%E", L"%D", L"%T", L"%W", L"%A", L"%q", L"%;", L"%[",
};
const wchar_t* const WORDS[] = {
    L"a", L"Value", L"x", L"12", L"-7", L"0x1F", L"4294967296", L"..", L"\\", L"\\\\", L"\"", L"=", L"==",
    L"!=", L"<=", L">", L"&&", L"||", L"&", L"|", L"!", L"?", L"#", L"@", L"-", L";", L" ", L"\t",
    L"C:\\nothing\\here.txt", L"*", L"*.*", L"\\*", L"[", L"]", L"<", L">", L"\x4E2D\x6587", L"\xFFFF", L"\xD800",
};
const wchar_t* const KEYWORDS[] = {
    L"LOAD", L"BATC", L"IFEX", L"ELSE", L"CALL", L"GOTO", L"PROC", L"ENDP", L"PLAY", L"BEEP", L"MSGX",
    L"DLGX", L"LINK", L"FILE", L"REGX", L"RARX", L"SEND", L"WAIT", L"KILL", L"SHUT", L"EXEC", L"CDLL",
    L"EVAL", L"ASOC", L"DISP", L"POST", L"HELP", L"VRUI", L"TGZX", L"eval", L"Ifex", L"XXXX", L"",
};
const wchar_t* const ROOTS[] = {
    L"HKCU\\", L"HKLM\\", L"HKCR\\", L"HKU\\", L"HKEY_CURRENT_USER\\", L"HKEY_LOCAL_MACHINE\\",
    L"HKEY_CLASSES_ROOT\\", L"HKEY_USERS\\", L"hkcu\\", L"HKCU", L"", L"HKEY_CURRENT_CONFIG\\",
};
const wchar_t* const LABELS[] = {L"a", L"b", L"Main", L"x y", L""};

void AppendNumber(std::wstring& text, long long value) { text += std::to_wstring(value); }

void AppendAtom(std::wstring& text, Random& random)
{
    switch (random.Below(5)) {
    case 0: text += random.Pick(ESCAPES); break;
    case 1: AppendNumber(text, static_cast<long long>(random.Below(2000)) - 1000); break;
    case 2: text += static_cast<wchar_t>(1 + random.Below(0xFFFE)); break;
    default: text += random.Pick(WORDS); break;
    }
}

void AppendAtoms(std::wstring& text, Random& random, size_t most)
{
    for (size_t i = random.Below(most + 1); i > 0; --i)
        AppendAtom(text, random);
}

void AppendKeyPath(std::wstring& text, Random& random)
{
    text += random.Pick(ROOTS);
    text += L"Software\\Fz";
    for (size_t i = random.Below(4); i > 0; --i) {
        text += L'\\';
        AppendAtoms(text, random, 2);
    }
}

// --- scripts ---

void AppendCondition(std::wstring& text, Random& random)
{
    const wchar_t* const OPERATORS[] = {L"==", L"=", L"!=", L"!", L"<", L"<=", L">", L">=", L"&", L"&&", L"|", L"||", L""};
    if (random.Chance(20))
        text += L'!';
    AppendAtoms(text, random, 2);
    text += random.Pick(OPERATORS);
    AppendAtoms(text, random, 2);
}

void AppendCommand(std::wstring& text, Random& random, int depth);

void AppendRegxLine(std::wstring& text, Random& random)
{
    const wchar_t* const MARKERS[] = {L"", L"#", L"@", L"-", L"Name"};
    text += L"REGX ";
    AppendKeyPath(text, random);
    text += L'\\';
    text += random.Pick(MARKERS);
    AppendAtoms(text, random, 2);
    if (random.Chance(70)) {
        text += L'=';
        AppendAtoms(text, random, 3);
        if (random.Chance(30)) {
            text += L'?';
            AppendAtoms(text, random, 2);
        }
    }
}

void AppendCommand(std::wstring& text, Random& random, int depth)
{
    switch (random.Below(depth > 2 ? 6 : 10)) {
    case 0: text += L"EVAL "; text += static_cast<wchar_t>(L'0' + random.Below(10)); text += L'='; AppendAtoms(text, random, 4); break;
    case 1: text += L"EVAL x="; AppendAtoms(text, random, 2); break;
    case 2: AppendRegxLine(text, random); break;
    case 3: text += random.Chance(50) ? L"FILE " : L"LINK "; AppendAtoms(text, random, 3); text += L','; AppendAtoms(text, random, 3); break;
    case 4: text += random.Pick(KEYWORDS); text += L' '; AppendAtoms(text, random, 4); break;
    case 5: text += L"EVAL "; AppendAtoms(text, random, 2); break;
    case 6: text += L"IFEX "; AppendCondition(text, random); text += L','; AppendCommand(text, random, depth + 1); break;
    case 7: text += L"ELSE "; AppendCommand(text, random, depth + 1); break;
    case 8:
        text += L"BATC ";
        for (size_t i = 1 + random.Below(4); i > 0; --i) {
            AppendCommand(text, random, depth + 1);
            text += L';';
        }
        break;
    default: text += random.Chance(50) ? L"CALL " : L"GOTO "; text += random.Pick(LABELS); break;
    }
}

void AppendScriptLine(std::wstring& text, Random& random)
{
    switch (random.Below(12)) {
    case 0: text += L"; "; AppendAtoms(text, random, 3); break;
    case 1: text += L"IFEX "; AppendCondition(text, random); break;        // opens a block
    case 2: text += L"IFEX"; break;                                         // closes one
    case 3: text += random.Chance(50) ? L"PROC " : L"ENDP "; text += random.Pick(LABELS); break;
    case 4: text += L'['; AppendKeyPath(text, random); text += L"]\r\n\"v\"=\""; AppendAtoms(text, random, 2); text += L'"'; break;
    case 5: text += L"<wap-provisioningdoc/>"; if (random.Chance(50)) text += L"\r\n<>"; break;
    case 6: text.append(1000 + random.Below(5000), static_cast<wchar_t>(random.Chance(50) ? L'a' : L'%')); break;
    case 7: text += L"C:\\nothing\\"; AppendAtoms(text, random, 2); break;
    default: AppendCommand(text, random, 0); break;
    }
    text += random.Chance(80) ? L"\r\n" : (random.Chance(50) ? L"\n" : L"\r");
}

// --- .reg texts ---

void AppendRegValue(std::wstring& text, Random& random)
{
    if (random.Chance(15))
        text += L'@';
    else {
        text += L'"';
        AppendAtoms(text, random, 2);
        text += L'"';
    }
    text += L'=';
    switch (random.Below(8)) {
    case 0: text += L'"'; AppendAtoms(text, random, 4); text += random.Chance(90) ? L"\"" : L""; break;
    case 1: text += L"\"a\\\\b\\\"c\""; break;
    case 2: text += L"dword:"; text += random.Chance(80) ? L"0000ffff" : L"zz"; break;
    case 3: text += L"-"; break;
    case 4: text += L"hex(7):41,00,00,00,00,00"; break;
    case 5: text += L"hex(2):25,00,41,00,00,00"; break;
    default:
        text += random.Chance(50) ? L"hex:" : L"hex(b):";
        for (size_t i = random.Below(40); i > 0; --i) {
            text += L"a5,";
            if (random.Chance(10))
                text += L"\\\r\n  ";
        }
        text += L"ff";
        break;
    }
}

std::string Utf16Bytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// Mutates UTF-16 text unit by unit: replace, insert, delete, duplicate, cut short.
void MutateText(std::wstring& text, Random& random)
{
    for (size_t n = random.Below(5); n > 0 && !text.empty(); --n) {
        size_t at = random.Below(text.size());
        size_t length = 1 + random.Below(64);
        switch (random.Below(6)) {
        case 0: text[at] = static_cast<wchar_t>(random.Chance(30) ? random.Pick(L"%,;\\\"[]=\r\n#@") : random.Below(0x10000)); break;
        case 1: { std::wstring atom; AppendAtom(atom, random); text.insert(at, atom); break; }
        case 2: text.erase(at, length); break;
        case 3: text.insert(at, text.substr(at, length)); break;
        case 4: text.resize(at); break;
        default: text.insert(at, std::wstring(random.Below(300), random.Pick(L"%\\\",a"))); break;
        }
    }
}

std::string GenerateScript(Random& random)
{
    std::wstring text;
    for (size_t lines = random.Below(30); lines > 0; --lines)
        AppendScriptLine(text, random);
    if (random.Chance(20))
        text += random.Pick(ESCAPES);      // an escape cut short by the end of the text
    MutateText(text, random);
    return Utf16Bytes(text);
}

std::string GenerateRegistryText(Random& random)
{
    std::wstring text = random.Chance(50) ? L"REGEDIT4\r\n\r\n" : L"Windows Registry Editor Version 5.00\r\n\r\n";
    for (size_t sections = random.Below(6); sections > 0; --sections) {
        text += random.Chance(15) ? L"[-" : L"[";
        AppendKeyPath(text, random);
        text += random.Chance(90) ? L"]\r\n" : L"\r\n";
        for (size_t values = random.Below(8); values > 0; --values) {
            if (random.Chance(10))
                text += L"; comment\r\n";
            AppendRegValue(text, random);
            text += random.Chance(85) ? L"\r\n" : L"\n";
        }
        text += L"\r\n";
    }
    MutateText(text, random);
    return Utf16Bytes(text);
}

// --- provisioning documents ---

const wchar_t* const PROVIDERS[] = {L"Registry", L"Registry", L"Registry", L"Registry", L"Registry", L"Registry", L"Clock", L""};
const wchar_t* const KEY_NAMES[] = {
    L"Fz", L"a b", L"\x4E2D", L"x\\y", L"", L"\\", L"x\\\\y", L"..", L"&amp;", L"&#x41;", L"Fz\\deeper",
};
// Each datatype with values that fit it; the last row's values fit none but text.
struct DatatypeValues {
    const wchar_t* datatype;
    const wchar_t* values[6];
};
const DatatypeValues DATATYPE_VALUES[] = {
    {L"string", {L"a b c", L"&lt;&amp;&gt;&quot;", L"&#x4E2D;", L"", L"x&#xF000;y", L"&#xD;&#xA;"}},
    {L"integer", {L"0", L"-1", L"2147483647", L"-2147483648", L"+7", L"007"}},
    {L"boolean", {L"true", L"FALSE", L"1", L"0", L"True", L"false"}},
    {L"binary", {L"AQID", L"AQ==", L"QUJD RA==", L"", L"/+8=", L"AAAA"}},
    {L"expandstring", {L"%TEMP%", L"%SystemRoot%\\x", L"", L"a", L"%", L"%%"}},
    {L"multiplestring", {L"x&#xF000;y", L"one", L"", L"a&#xF000;b&#xF000;c", L"&#x4E2D;", L" "}},
    {L"", {L"2147483648", L"1x", L"yes", L"A===", L"&#xF000;", L"x&#xF000;&#xF000;y"}},
};
const wchar_t* const ODD_DATATYPES[] = {L"Integer", L"float", L"", L"BINARY"};
const wchar_t* const VALUE_NAMES[] = {L"v", L"", L"Value name", L"\x4E2D", L"a\\b", L"&quot;"};
const wchar_t* const KEY_ELEMENTS[] = {L"characteristic", L"characteristic", L"nocharacteristic", L"characteristic-query"};
const wchar_t* const ODD_ITEMS[] = {L"<other/>", L"text", L"<!-- note -->", L"<?pi x?>", L"<![CDATA[x]]>", L"<parm/>"};

void AppendAttribute(std::wstring& text, const wchar_t* name, const wchar_t* value)
{
    text += L' ';
    text += name;
    text += L"=\"";
    text += value;
    text += L'"';
}

// Mostly a value that fits its datatype; now and then one that does not, or an odd datatype.
void AppendParmValue(std::wstring& text, Random& random)
{
    const DatatypeValues& row = random.Pick(DATATYPE_VALUES);
    const DatatypeValues& values = random.Chance(90) ? row : random.Pick(DATATYPE_VALUES);
    AppendAttribute(text, L"value", random.Pick(values.values));
    if (random.Chance(3))
        AppendAttribute(text, L"datatype", random.Pick(ODD_DATATYPES));
    else if (*row.datatype && (random.Chance(85) || wcscmp(row.datatype, L"string")))
        AppendAttribute(text, L"datatype", row.datatype);
}

void AppendProvisioningItem(std::wstring& text, Random& random, int depth)
{
    switch (random.Below(depth > 3 ? 7 : 9)) {
    case 0:
    case 1:
        text += L"<parm";
        AppendAttribute(text, L"name", random.Pick(VALUE_NAMES));
        AppendParmValue(text, random);
        text += L"/>";
        break;
    case 2: text += L"<noparm"; AppendAttribute(text, L"name", random.Pick(VALUE_NAMES)); text += L"/>"; break;
    case 3: text += L"<parm-query"; AppendAttribute(text, L"name", random.Pick(VALUE_NAMES)); text += L"/>"; break;
    case 4: text += L"<nocharacteristic"; AppendAttribute(text, L"type", random.Pick(KEY_NAMES)); text += L"/>"; break;
    case 5: text += L"<characteristic-query"; AppendAttribute(text, L"type", random.Pick(KEY_NAMES)); text += L"/>"; break;
    case 6: text += random.Pick(ODD_ITEMS); break;
    default:
        text += L"<characteristic";
        AppendAttribute(text, L"type", random.Pick(KEY_NAMES));
        text += L">";
        for (size_t i = random.Below(5); i > 0; --i)
            AppendProvisioningItem(text, random, depth + 1);
        text += L"</characteristic>";
        break;
    }
    if (random.Chance(30))
        text += L"\r\n  ";
}

// A wap-provisioningdoc with Registry characteristics over the fenced roots, now and then
// another provider, root or prolog, and then mutated like the other texts.
std::string GenerateProvisioningDocument(Random& random)
{
    std::wstring text = random.Chance(20) ? L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" : L"";
    if (random.Chance(3))
        text += L"<!DOCTYPE wap-provisioningdoc [<!ENTITY e \"x\">]>";
    const wchar_t* root = random.Chance(95) ? L"wap-provisioningdoc" : L"other-root";
    text += L'<';
    text += root;
    text += L'>';
    for (size_t providers = random.Below(3); providers > 0; --providers) {
        text += L"<characteristic";
        AppendAttribute(text, L"type", random.Pick(PROVIDERS));
        text += L">";
        for (size_t keys = random.Below(4); keys > 0; --keys) {
            const wchar_t* element = random.Pick(KEY_ELEMENTS);
            text += L'<';
            text += element;
            std::wstring path = random.Pick(ROOTS);
            path += L"Software\\Fz";
            if (random.Chance(50)) {
                path += L'\\';
                path += random.Pick(KEY_NAMES);
            }
            AppendAttribute(text, L"type", path.c_str());
            text += L'>';
            for (size_t items = random.Below(8); items > 0; --items)
                AppendProvisioningItem(text, random, 1);
            text += L"</";
            text += element;
            text += L'>';
        }
        text += L"</characteristic>";
    }
    text += L"</";
    text += root;
    text += L'>';
    if (random.Chance(40))
        MutateText(text, random);
    return Utf16Bytes(text);
}

// --- HTML pages ---

const wchar_t* const HTML_TAGS[] = {
    L"p", L"br", L"b", L"i", L"u", L"em", L"strong", L"code", L"tt", L"pre", L"h1", L"h3", L"h6", L"ul", L"ol",
    L"li", L"dl", L"dt", L"dd", L"table", L"tr", L"td", L"th", L"a", L"center", L"div", L"blockquote", L"hr",
    L"img", L"script", L"style", L"title", L"head", L"font", L"x-unknown", L"!--", L"!doctype", L"?xml", L"",
};
const wchar_t* const HTML_ATTRIBUTES[] = {
    L" href=\"#kw-EVAL\"", L" href='http://x/?a=1&amp;b'", L" href=sub/page%20x.htm", L" name=top", L" id=\"x\"",
    L" align=center", L" align=RIGHT", L" start=4", L" type=i", L" type=A", L" start=-3", L" colspan=99999",
    L" alt=\"[img]\"", L" src=x.png", L" =", L" a=\"unclosed", L" b='", L"/",
};
const wchar_t* const HTML_TEXTS[] = {
    L"word", L" ", L"\n", L"\t", L"&amp;", L"&lt;", L"&#65;", L"&#x1F600;", L"&#xD800;", L"&#99999999;", L"&nbsp;",
    L"&eacute;", L"&bogus;", L"&", L"&#", L"<", L">", L"\x4E2D\x6587", L"\xD800", L"\xDC00", L"\xFFFF", L"%",
};

void AppendHtmlTag(std::wstring& text, Random& random)
{
    text += L'<';
    if (random.Chance(40))
        text += L'/';
    text += random.Pick(HTML_TAGS);
    for (size_t i = random.Below(3); i > 0; --i)
        text += random.Pick(HTML_ATTRIBUTES);
    if (random.Chance(90))
        text += L'>';
}

std::string GenerateHtml(Random& random)
{
    std::wstring text;
    for (size_t pieces = random.Below(200); pieces > 0; --pieces) {
        switch (random.Below(10)) {
        case 0: case 1: case 2: AppendHtmlTag(text, random); break;
        case 3: text.append(random.Below(400), random.Pick(L"x <")); break;
        case 4: {       // deep nesting
            const wchar_t* const OPENERS[] = {L"<ul><li>", L"<table><tr><td>", L"<blockquote>", L"<b><i>", L"<ol start=9><li>"};
            const wchar_t* opener = random.Pick(OPENERS);
            for (size_t depth = random.Below(300); depth > 0; --depth)
                text += opener;
            break;
        }
        default: text += random.Pick(HTML_TEXTS); break;
        }
    }
    MutateText(text, random);
    return Utf16Bytes(text);
}

// --- tar archives ---

constexpr size_t BLOCK = 512;
const char USTAR_MAGIC[8] = {'u', 's', 't', 'a', 'r', 0, '0', '0'};
const char GNU_MAGIC[8] = {'u', 's', 't', 'a', 'r', ' ', ' ', 0};

void PutOctal(std::string& header, size_t offset, size_t width, uint64_t value)
{
    std::string digits(width - 1, '0');
    for (size_t i = width - 1; i > 0 && value; --i, value >>= 3)
        digits[i - 1] = static_cast<char>('0' + (value & 7));
    memcpy(&header[offset], digits.data(), width - 1);
}

// The base-256 form tar programs write for sizes of 8 GiB and more.
void PutBase256(std::string& header, size_t offset, size_t width, uint64_t value)
{
    for (size_t i = width - 1; i > 0; --i, value >>= 8)
        header[offset + i] = static_cast<char>(value & 0xFF);
    header[offset] = static_cast<char>(0x80);
}

void PutNumber(std::string& header, size_t offset, size_t width, uint64_t value, Random& random)
{
    if (random.Chance(10))
        PutBase256(header, offset, width, value);
    else
        PutOctal(header, offset, width, value);
}

void PutChecksum(std::string& header)
{
    memset(&header[148], ' ', 8);
    unsigned sum = 0;
    for (unsigned char byte : header)
        sum += byte;
    PutOctal(header, 148, 7, sum);
}

// A header block in the ustar, GNU or v7 layout; a long ustar name is split into the
// prefix field where it has a '/' to split at.
std::string MakeHeader(const std::string& name, char type, uint64_t size, const std::string& link, Random& random)
{
    std::string header(BLOCK, '\0');
    std::string field = name;
    size_t split = name.size() > 100 ? name.rfind('/', 155) : std::string::npos;
    bool isUstar = random.Chance(60);
    if (isUstar && split != std::string::npos && name.size() - split - 1 <= 100) {
        memcpy(&header[345], name.data(), split);
        field = name.substr(split + 1);
    }
    memcpy(&header[0], field.data(), field.size() < 100 ? field.size() : 100);
    PutOctal(header, 100, 8, 0644);
    PutNumber(header, 124, 12, size, random);
    if (random.Chance(5))
        memcpy(&header[124], random.Chance(50) ? "99999999999" : "77777777777", 11);
    PutOctal(header, 136, 12, 0);
    header[156] = type;
    memcpy(&header[157], link.data(), link.size() < 100 ? link.size() : 100);
    if (isUstar || random.Chance(70))
        memcpy(&header[257], isUstar ? USTAR_MAGIC : GNU_MAGIC, 8);
    PutChecksum(header);
    return header;
}

void AppendData(std::string& tar, const std::string& data)
{
    tar += data;
    tar.append((BLOCK - data.size() % BLOCK) % BLOCK, '\0');
}

void AppendEntry(std::string& tar, const std::string& name, char type, const std::string& data, Random& random,
                 const std::string& link = "")
{
    tar += MakeHeader(name, type, data.size(), link, random);
    AppendData(tar, data);
}

// Entry names, among them every way out of the destination the extractor must refuse.
std::string EntryName(Random& random)
{
    const char* const NAMES[] = {
        "a.txt", "dir/", "dir/sub/b.bin", "dir\\c", "../FZESC1", "..\\FZESC2", "/FZESC3", "\\FZESC4",
        "C:/FZESC5", "C:FZESC6", "Z:/tmp/FZESC7", "dir/../../FZESC8", ".../FZESC9", ".. /FZESC10",
        "a:stream", "//?/C:/FZESC11", "./d/./e", "con", "aux.txt", "x/", "", " ", "\xE4\xB8\xAD.txt",
        "name with spaces", "dir/..", "..", "A.TXT", "Dir/Sub/B.bin", "caf\xE9.txt", "p?x/q*.txt",
        "a.txt.", "a.txt ", "dir./sub/b.bin", "CONIN$", "conout$.txt",
    };
    std::string name = random.Pick(NAMES);
    if (random.Chance(10))
        name = std::string(50 + random.Below(300), 'n') + (random.Chance(50) ? "/../FZESC12" : "");
    else if (random.Chance(10))
        name = std::string(40 + random.Below(100), 'p') + "/" + std::string(1 + random.Below(110), 'q');
    return name;
}

std::string EntryData(Random& random)
{
    std::string data(random.Chance(20) ? random.Below(70000) : random.Below(1200), '\0');
    uint64_t fill = random.Next();
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(random.Chance(50) ? 'A' + (fill + i) % 26 : 0);
    return data;
}

// A size now and then past 4 GiB, which the archive never holds the data for.
uint64_t LargeSize(Random& random)
{
    return random.Chance(50) ? 0x120000000ull + random.Below(4096) : 0xFFFFFFFFull + random.Below(3);
}

std::string PaxRecord(const std::string& keyword, const std::string& value, Random& random)
{
    std::string body = " " + keyword + "=" + value + "\n";
    size_t length = body.size() + 1;
    while (std::to_string(length).size() + body.size() != length)
        ++length;
    if (random.Chance(5))
        length += random.Below(5) - 2;      // a length that misses the record's end
    return std::to_string(length) + body;
}

std::string PaxRecords(Random& random, const std::vector<std::string>& names)
{
    const char* const KEYWORDS[] = {"path", "linkpath", "size", "comment", "GNU.sparse.major", "GNU.sparse.realsize",
                                    "GNU.sparse.size", "GNU.sparse.offset", "GNU.sparse.numbytes", "GNU.sparse.map",
                                    "GNU.sparse.name", "mtime"};
    std::string records;
    for (size_t n = random.Below(5); n > 0; --n) {
        std::string keyword = random.Pick(KEYWORDS);
        std::string value = std::to_string(random.Chance(10) ? LargeSize(random) : random.Below(3000));
        if (keyword == "path" || keyword == "linkpath" || keyword == "GNU.sparse.name")
            value = !names.empty() && random.Chance(40) ? names[random.Below(names.size())] : EntryName(random);
        else if (keyword == "GNU.sparse.map")
            value = "0,5," + std::to_string(random.Below(5000)) + "," + std::to_string(random.Below(30));
        else if (keyword == "comment")
            value = std::string(random.Below(1500), 'c');
        records += PaxRecord(keyword, value, random);
    }
    return records;
}

// Sparse regions: increasing offsets with holes between them, and their data.
struct SparseFile {
    std::vector<std::pair<uint64_t, uint64_t>> regions;
    uint64_t realSize;
    std::string data;
};

SparseFile MakeSparseFile(Random& random)
{
    SparseFile file{{}, 0, {}};
    uint64_t offset = random.Below(100);
    for (size_t n = random.Chance(10) ? random.Below(60) : random.Below(8); n > 0; --n) {
        uint64_t size = random.Below(700);
        file.regions.push_back({offset, size});
        file.data += std::string(size, static_cast<char>('a' + random.Below(26)));
        offset += size + random.Below(3000);
    }
    file.realSize = random.Chance(5) ? LargeSize(random) : offset + random.Below(100) - (random.Chance(10) ? 200 : 0);
    return file;
}

// A GNU sparse entry: four map slots in the header, the rest in extension blocks after it.
void AppendGnuSparse(std::string& tar, const std::string& name, const SparseFile& file, Random& random)
{
    std::string header = MakeHeader(name, 'S', file.data.size(), "", random);
    size_t count = file.regions.size();
    size_t extensions = count > 4 ? (count - 4 + 20) / 21 : 0;
    std::string blocks(extensions * BLOCK, '\0');
    for (size_t i = 0; i < count; ++i) {
        std::string& block = i < 4 ? header : blocks;
        size_t at = i < 4 ? 386 + 24 * i : (i - 4) / 21 * BLOCK + (i - 4) % 21 * 24;
        PutNumber(block, at, 12, file.regions[i].first, random);
        PutNumber(block, at + 12, 12, file.regions[i].second, random);
    }
    PutNumber(header, 483, 12, file.realSize, random);
    header[482] = extensions && !random.Chance(5) ? 1 : 0;
    for (size_t b = 1; b < extensions; ++b)
        blocks[(b - 1) * BLOCK + 504] = 1;
    PutChecksum(header);
    tar += header + blocks;
    AppendData(tar, file.data);
}

// A pax sparse 1.0 entry: the real name in a record, the map heading the data.
void AppendPaxSparse(std::string& tar, const std::string& name, const SparseFile& file, Random& random)
{
    std::string records = PaxRecord("GNU.sparse.major", "1", random) + PaxRecord("GNU.sparse.minor", "0", random) +
                          PaxRecord("GNU.sparse.name", name, random) +
                          PaxRecord("GNU.sparse.realsize", std::to_string(file.realSize), random);
    AppendEntry(tar, "PaxHeaders/s", 'x', records, random);
    std::string map = std::to_string(file.regions.size()) + "\n";
    for (const auto& [offset, size] : file.regions)
        map += std::to_string(offset) + "\n" + std::to_string(size) + "\n";
    map.append((BLOCK - map.size() % BLOCK) % BLOCK, '\0');
    AppendEntry(tar, "GNUSparseFile.1/" + name, '0', map + file.data, random);
}

std::string Gzip(const std::string& raw)
{
    z_stream stream{};
    if (deflateInit2(&stream, 1, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return raw;
    std::string out(deflateBound(&stream, raw.size()) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    stream.avail_in = static_cast<uInt>(raw.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

void MutateBytes(std::string& bytes, Random& random)
{
    for (size_t n = random.Below(6); n > 0 && !bytes.empty(); --n) {
        size_t at = random.Below(bytes.size());
        switch (random.Below(5)) {
        case 0: bytes[at] = static_cast<char>(random.Next()); break;
        case 1: bytes[at] = random.Pick("\0 7/.:\\0L5K1Sx\x80"); break;
        case 2: bytes.resize(at); break;
        case 3: bytes.erase(at, 1 + random.Below(600)); break;
        default: bytes.insert(at, std::string(1 + random.Below(600), static_cast<char>(random.Next()))); break;
        }
    }
}

// One entry of a generated archive; 'names' are those of the entries before it, for links.
void AppendGeneratedEntry(std::string& tar, std::vector<std::string>& names, Random& random)
{
    const char TYPES[] = {'0', '0', '0', '\0', '5', 'L', 'K', '1', '1', '2', 'x', 'x', 'g', 'S', 's', '7', 'D', 'h'};
    char type = random.Pick(TYPES);
    std::string name = EntryName(random);
    std::string link = !names.empty() && random.Chance(70) ? names[random.Below(names.size())] : EntryName(random);
    if (type == 'L' || type == 'K') {
        std::string longName = (type == 'K' ? link : name) + std::string(random.Below(200), 'l') + '\0';
        AppendEntry(tar, "././@LongLink", type, longName, random);
        type = random.Chance(50) ? '0' : '1';
    } else if (type == 'x' || type == 'g') {
        AppendEntry(tar, "PaxHeaders/x", type, PaxRecords(random, names), random);
        type = random.Pick("0015");
    }
    if (type == 'S' || type == 's') {
        SparseFile file = MakeSparseFile(random);
        if (type == 'S')
            AppendGnuSparse(tar, name, file, random);
        else
            AppendPaxSparse(tar, name, file, random);
    } else if (type == 'h') {
        tar += MakeHeader(name, '0', LargeSize(random), "", random);      // its data never come
    } else {
        std::string data = type == '0' || type == '\0' || type == '7' || type == 'D' ? EntryData(random) : std::string();
        AppendEntry(tar, name, type, data, random, link);
    }
    names.push_back(name);
}

std::string GenerateArchive(Random& random)
{
    std::string tar;
    std::vector<std::string> names;
    for (size_t entries = random.Below(12); entries > 0; --entries)
        AppendGeneratedEntry(tar, names, random);
    if (random.Chance(70))
        tar.append(2 * BLOCK, '\0');
    bool mutateCompressed = random.Chance(30);
    if (!mutateCompressed)
        MutateBytes(tar, random);
    if (random.Chance(60)) {
        tar = Gzip(tar);
        if (mutateCompressed)
            MutateBytes(tar, random);
    }
    return tar;
}

// --- DLGX item lists ---

void AppendRegistryTest(std::wstring& text, Random& random)
{
    AppendKeyPath(text, random);
    text += random.Chance(50) ? L"\\#" : L"\\";
    AppendAtoms(text, random, 2);
    if (random.Chance(80)) {
        text += L'=';
        AppendAtoms(text, random, 2);
    }
    if (random.Chance(70)) {
        text += L'?';
        AppendAtoms(text, random, 2);
    }
}

void AppendDialogItem(std::wstring& text, Random& random)
{
    const wchar_t* const MARKS[] = {L"$", L"[]", L"[x]", L"[0]", L"[ ]", L"[", L"[x", L"<>", L"<*>", L"<",
                                    L"{}", L"{*}", L"{0}", L"{", L"@", L"", L"#", L"]"};
    const wchar_t* mark = random.Pick(MARKS);
    text += mark;
    if (random.Chance(5))
        text.append(200 + random.Below(4000), L'w');
    else
        AppendAtoms(text, random, 3);
    if (mark[0] == L'@' && random.Chance(80)) {
        text += L'|';
        AppendRegistryTest(text, random);
    }
}

// Separators (what a ',' of the script became) and bars, inserted anywhere.
void MutateSeparators(std::wstring& text, Random& random)
{
    for (size_t n = random.Below(4); n > 0; --n)
        text.insert(random.Below(text.size() + 1), 1, random.Chance(70) ? L'\x01' : L'|');
}

std::string GenerateDialogList(Random& random)
{
    std::wstring text = random.Chance(20) ? L"#" : L"";
    size_t items = random.Chance(10) ? 30 + random.Below(10) : random.Below(12);
    for (size_t i = 0; i < items; ++i) {
        if (i)
            text += L'\x01';
        AppendDialogItem(text, random);
    }
    MutateText(text, random);
    MutateSeparators(text, random);
    return Utf16Bytes(text);
}

} // namespace

std::string GenerateInput(Target target, uint64_t seed, uint64_t index)
{
    Random random = SeededRandom(seed, index, target);
    switch (target) {
    case Target::Script: return GenerateScript(random);
    case Target::Registry: return GenerateRegistryText(random);
    case Target::Archive: return GenerateArchive(random);
    case Target::Provisioning: return GenerateProvisioningDocument(random);
    case Target::Dialog: return GenerateDialogList(random);
    case Target::Html: return GenerateHtml(random);
    case Target::Probe: break;
    }
    return "probe " + std::to_string(index);
}

} // namespace fuzz
