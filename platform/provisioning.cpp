// The desktop's configuration manager: a wap-provisioningdoc whose characteristics are of
// type Registry, read with the platform's XML parser (MSXML through COM) and applied to
// the registry. The document is checked completely before anything is applied; then
// every item is applied on its own, and the document is echoed back with query answers
// and errors. See docs/provisioning.md for the subset and the result codes.
#include "platform/platform.h"
#include "base/base.h"
#include <msxml2.h>
#include <new>

namespace {

// MSXML 6 is part of every desktop Windows; MinGW's headers lack its class id.
const CLSID CLSID_DOM_DOCUMENT_60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
const IID IID_DOM_DOCUMENT = {0x2933bf81, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

const wchar_t ROOT_ELEMENT[] = L"wap-provisioningdoc";
const wchar_t REGISTRY_PROVIDER[] = L"Registry";
constexpr size_t KEY_PATH_CHARS = 1024;            // a key path below its root
constexpr wchar_t MULTI_STRING_SEPARATOR = 0xF000;
constexpr size_t ATTRIBUTE_SLOTS = 3;

template <typename T>
struct ComHolder {
    T* p = nullptr;
    ~ComHolder()
    {
        if (p)
            p->Release();
    }
};

struct BstrHolder {
    BSTR text = nullptr;
    ~BstrHolder() { SysFreeString(text); }
};

// --- the output document ---

// Grown as it is written. A failed allocation drops the output, never the result.
struct Output {
    wchar_t* text;
    size_t length;
    size_t capacity;
    bool failed;
};

void Append(Output& out, const wchar_t* text, size_t count)
{
    if (out.failed || count == 0)
        return;
    if (out.length + count + 1 > out.capacity) {
        size_t capacity = out.capacity ? out.capacity : 256;
        while (capacity < out.length + count + 1)
            capacity *= 2;
        wchar_t* grown = new (std::nothrow) wchar_t[capacity];
        if (!grown) {
            out.failed = true;
            return;
        }
        if (out.text)
            memcpy(grown, out.text, out.length * sizeof(wchar_t));
        delete[] out.text;
        out.text = grown;
        out.capacity = capacity;
    }
    memcpy(out.text + out.length, text, count * sizeof(wchar_t));
    out.length += count;
    out.text[out.length] = 0;
}

void Append(Output& out, const wchar_t* text)
{
    Append(out, text, wcslen(text));
}

// Attribute text: markup characters, control characters and the multi-string separator
// are written as references, so that the output is XML and the separator stays visible.
void AppendEscaped(Output& out, const wchar_t* text, size_t count)
{
    size_t plain = 0;
    for (size_t i = 0; i < count; ++i) {
        wchar_t unit = text[i];
        const wchar_t* named = unit == L'&' ? L"&amp;" : unit == L'<' ? L"&lt;" : unit == L'>' ? L"&gt;"
                             : unit == L'"' ? L"&quot;" : nullptr;
        if (!named && unit >= 0x20 && unit != MULTI_STRING_SEPARATOR)
            continue;
        Append(out, text + plain, i - plain);
        plain = i + 1;
        wchar_t reference[16];
        StringCchPrintfW(reference, ARRAYSIZE(reference), L"&#x%X;", static_cast<unsigned>(unit));
        Append(out, named ? named : reference);
    }
    Append(out, text + plain, count - plain);
}

void AppendAttribute(Output& out, const wchar_t* name, const wchar_t* value, size_t count)
{
    Append(out, L" ");
    Append(out, name);
    Append(out, L"=\"");
    AppendEscaped(out, value, count);
    Append(out, L"\"");
}

void AppendIndent(Output& out, int depth)
{
    for (int i = 0; i < depth; ++i)
        Append(out, L"  ");
}

void AppendError(Output& out, int depth, HRESULT code, long line = 0, long position = 0)
{
    wchar_t text[96];
    if (line > 0)
        StringCchPrintfW(text, ARRAYSIZE(text), L"<error code=\"0x%08lX\" line=\"%ld\" position=\"%ld\"/>\r\n",
                         static_cast<unsigned long>(code), line, position);
    else
        StringCchPrintfW(text, ARRAYSIZE(text), L"<error code=\"0x%08lX\"/>\r\n", static_cast<unsigned long>(code));
    AppendIndent(out, depth);
    Append(out, text);
}

// --- the elements of the subset ---

enum class Kind { Characteristic, NoCharacteristic, CharacteristicQuery, Parm, NoParm, ParmQuery };

struct KindRow {
    const wchar_t* element;
    Kind kind;
    const wchar_t* attributes[ATTRIBUTE_SLOTS];     // the first one, type or name, is required
};

const KindRow KIND_TABLE[] = {
    {L"characteristic", Kind::Characteristic, {L"type"}},
    {L"nocharacteristic", Kind::NoCharacteristic, {L"type"}},
    {L"characteristic-query", Kind::CharacteristicQuery, {L"type"}},
    {L"parm", Kind::Parm, {L"name", L"value", L"datatype"}},
    {L"noparm", Kind::NoParm, {L"name"}},
    {L"parm-query", Kind::ParmQuery, {L"name"}},
};

// An element as written: its kind (none outside the subset) and its attributes by slot.
struct Item {
    const KindRow* row = nullptr;
    BstrHolder name;
    BstrHolder attributes[ATTRIBUTE_SLOTS];
    bool present[ATTRIBUTE_SLOTS] = {};
    bool unknownAttribute = false;
};

const wchar_t* Attribute(const Item& item, size_t slot)
{
    return item.attributes[slot].text ? item.attributes[slot].text : L"";
}

const wchar_t* Target(const Item& item) { return Attribute(item, 0); }
const wchar_t* Value(const Item& item) { return Attribute(item, 1); }

void ReadAttributes(IXMLDOMNode* node, Item& item)
{
    ComHolder<IXMLDOMNamedNodeMap> map;
    long count = 0;
    if (FAILED(node->get_attributes(&map.p)) || !map.p || FAILED(map.p->get_length(&count)))
        return;
    for (long i = 0; i < count; ++i) {
        ComHolder<IXMLDOMNode> attribute;
        BstrHolder name;
        if (FAILED(map.p->get_item(i, &attribute.p)) || !attribute.p || FAILED(attribute.p->get_nodeName(&name.text)))
            continue;
        size_t slot = 0;
        while (slot < ATTRIBUTE_SLOTS && !(item.row->attributes[slot] && name.text &&
                                           wcscmp(item.row->attributes[slot], name.text) == 0))
            ++slot;
        if (slot == ATTRIBUTE_SLOTS) {
            item.unknownAttribute = true;
            continue;
        }
        item.present[slot] = true;
        attribute.p->get_text(&item.attributes[slot].text);
    }
}

void ReadItem(IXMLDOMNode* node, Item& item)
{
    node->get_nodeName(&item.name.text);
    for (const auto& row : KIND_TABLE)
        if (item.name.text && wcscmp(item.name.text, row.element) == 0) {
            item.row = &row;
            ReadAttributes(node, item);
            return;
        }
}

const wchar_t* ElementName(const Item& item)
{
    return item.name.text ? item.name.text : L"";
}

void AppendStartTag(Output& out, const Item& item, int depth)
{
    AppendIndent(out, depth);
    Append(out, L"<");
    Append(out, ElementName(item));
    for (size_t slot = 0; item.row && slot < ATTRIBUTE_SLOTS; ++slot)
        if (item.present[slot])
            AppendAttribute(out, item.row->attributes[slot], Attribute(item, slot), wcslen(Attribute(item, slot)));
}

void AppendEndTag(Output& out, const Item& item, int depth)
{
    AppendIndent(out, depth);
    Append(out, L"</");
    Append(out, ElementName(item));
    Append(out, L">\r\n");
}

// The element as written, with an error element inside when 'error' is a failure.
void AppendItem(Output& out, const Item& item, int depth, HRESULT error)
{
    AppendStartTag(out, item, depth);
    if (SUCCEEDED(error)) {
        Append(out, L"/>\r\n");
        return;
    }
    Append(out, L">\r\n");
    AppendError(out, depth + 1, error);
    AppendEndTag(out, item, depth);
}

// Calls 'visit' on each element child of 'parent' in order until it returns false;
// returns how many element children it visited.
template <typename Visit>
size_t ForEachChildElement(IXMLDOMNode* parent, Visit visit)
{
    size_t count = 0;
    IXMLDOMNode* child = nullptr;
    parent->get_firstChild(&child);
    while (child) {
        DOMNodeType type = NODE_INVALID;
        child->get_nodeType(&type);
        bool goOn = true;
        if (type == NODE_ELEMENT) {
            ++count;
            goOn = visit(child);
        }
        IXMLDOMNode* next = nullptr;
        if (goOn)
            child->get_nextSibling(&next);
        child->Release();
        child = next;
    }
    return count;
}

// --- values by datatype ---

// The bytes of a value as the registry stores them; 'owned' holds those that had to be made.
struct ValueData {
    const BYTE* bytes = nullptr;
    DWORD size = 0;
    DWORD number = 0;
    BYTE* owned = nullptr;
    ~ValueData() { delete[] owned; }
};

// Signed 32-bit decimal, with an optional sign and nothing else around the digits.
bool ParseInteger(const wchar_t* text, DWORD& number)
{
    bool negative = *text == L'-';
    if (*text == L'-' || *text == L'+')
        ++text;
    if (!*text)
        return false;
    unsigned long long magnitude = 0;
    for (; *text; ++text) {
        if (*text < L'0' || *text > L'9')
            return false;
        magnitude = magnitude * 10 + static_cast<unsigned>(*text - L'0');
        if (magnitude > 2147483648ull)
            return false;
    }
    if (!negative && magnitude > 2147483647ull)
        return false;
    number = static_cast<DWORD>(negative ? 0 - magnitude : magnitude);
    return true;
}

int Base64Digit(wchar_t unit)
{
    if (unit >= L'A' && unit <= L'Z')
        return unit - L'A';
    if (unit >= L'a' && unit <= L'z')
        return unit - L'a' + 26;
    if (unit >= L'0' && unit <= L'9')
        return unit - L'0' + 52;
    return unit == L'+' ? 62 : unit == L'/' ? 63 : -1;
}

void PutGroupBytes(BYTE* out, size_t& count, unsigned group, int bytes)
{
    for (int i = 0; i < bytes; ++i, ++count)
        if (out)
            out[count] = static_cast<BYTE>(group >> (16 - 8 * i));
}

// Decodes base64 (blanks anywhere, '=' only to fill the last group) into 'out' when it is
// given; 'count' receives the number of bytes. False when the text is not base64.
bool DecodeBase64(const wchar_t* text, BYTE* out, size_t& count)
{
    count = 0;
    unsigned group = 0;
    int digits = 0;
    int padding = 0;
    for (; *text; ++text) {
        if (*text == L' ' || *text == L'\t' || *text == L'\r' || *text == L'\n')
            continue;
        if (*text == L'=') {
            if (digits < 2 || ++padding > 4 - digits)
                return false;
            continue;
        }
        int digit = Base64Digit(*text);
        if (digit < 0 || padding)
            return false;
        group = group << 6 | static_cast<unsigned>(digit);
        if (++digits == 4) {
            PutGroupBytes(out, count, group, 3);
            group = 0;
            digits = 0;
        }
    }
    if (padding != (digits ? 4 - digits : 0))
        return false;
    if (digits)
        PutGroupBytes(out, count, group << (6 * padding), digits - 1);
    return true;
}

HRESULT EncodeText(const wchar_t* value, ValueData& data)
{
    data.bytes = reinterpret_cast<const BYTE*>(value);
    data.size = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    return S_OK;
}

HRESULT EncodeNumber(DWORD number, ValueData& data)
{
    data.number = number;
    data.bytes = reinterpret_cast<const BYTE*>(&data.number);
    data.size = sizeof data.number;
    return S_OK;
}

HRESULT EncodeInteger(const wchar_t* value, ValueData& data)
{
    DWORD number = 0;
    return ParseInteger(value, number) ? EncodeNumber(number, data) : PROVISIONING_BAD_VALUE;
}

HRESULT EncodeBoolean(const wchar_t* value, ValueData& data)
{
    if (wcscmp(value, L"1") == 0 || _wcsicmp(value, L"true") == 0)
        return EncodeNumber(1, data);
    if (wcscmp(value, L"0") == 0 || _wcsicmp(value, L"false") == 0)
        return EncodeNumber(0, data);
    return PROVISIONING_BAD_VALUE;
}

HRESULT EncodeBinary(const wchar_t* value, ValueData& data)
{
    size_t count = 0;
    if (!DecodeBase64(value, nullptr, count))
        return PROVISIONING_BAD_VALUE;
    data.owned = new (std::nothrow) BYTE[count + 1];
    if (!data.owned)
        return E_OUTOFMEMORY;
    DecodeBase64(value, data.owned, count);
    data.bytes = data.owned;
    data.size = static_cast<DWORD>(count);
    return S_OK;
}

// Items separated by U+F000 become a REG_MULTI_SZ; an empty value is the empty list. An
// empty item would end the list early, so it does not fit.
HRESULT EncodeMultiString(const wchar_t* value, ValueData& data)
{
    size_t length = wcslen(value);
    if (length && (value[0] == MULTI_STRING_SEPARATOR || value[length - 1] == MULTI_STRING_SEPARATOR ||
                   wcsstr(value, L"\xF000\xF000")))
        return PROVISIONING_BAD_VALUE;
    size_t units = length ? length + 2 : 1;
    data.owned = new (std::nothrow) BYTE[units * sizeof(wchar_t)];
    if (!data.owned)
        return E_OUTOFMEMORY;
    auto* list = reinterpret_cast<wchar_t*>(data.owned);
    for (size_t i = 0; i < length; ++i)
        list[i] = value[i] == MULTI_STRING_SEPARATOR ? 0 : value[i];
    list[units - 1] = 0;
    list[units > 1 ? units - 2 : 0] = 0;
    data.bytes = data.owned;
    data.size = static_cast<DWORD>(units * sizeof(wchar_t));
    return S_OK;
}

struct DatatypeRow {
    const wchar_t* name;
    DWORD type;
    HRESULT (*encode)(const wchar_t* value, ValueData& data);
};

// Compared without regard to case; a parm without datatype is a string.
const DatatypeRow DATATYPE_TABLE[] = {
    {L"string", REG_SZ, EncodeText},
    {L"integer", REG_DWORD, EncodeInteger},
    {L"boolean", REG_DWORD, EncodeBoolean},
    {L"binary", REG_BINARY, EncodeBinary},
    {L"expandstring", REG_EXPAND_SZ, EncodeText},
    {L"multiplestring", REG_MULTI_SZ, EncodeMultiString},
};

const DatatypeRow* FindDatatype(const Item& item)
{
    const wchar_t* name = item.present[2] ? Attribute(item, 2) : L"string";
    for (const auto& row : DATATYPE_TABLE)
        if (_wcsicmp(name, row.name) == 0)
            return &row;
    return nullptr;
}

// --- the walks over the document ---

enum class Level { Document, Provider, Key };

// One walk over the document: the check, the application, or the echo of a refused one.
struct Walk {
    Output out;
    size_t element;             // elements met so far, in document order (the root is 0)
    size_t refusedElement;      // the element the check refused
    HRESULT refusal;
    HRESULT firstFailure;
    HKEY root;
    wchar_t path[KEY_PATH_CHARS];
    size_t pathLength;
};

struct KeyScope {
    HKEY root;
    size_t pathLength;
};

// A relative key path: not empty, and no empty part between backslashes.
bool IsRelativeKeyPath(const wchar_t* path)
{
    size_t length = wcslen(path);
    return length && path[0] != L'\\' && path[length - 1] != L'\\' && !wcsstr(path, L"\\\\");
}

// Extends the walk's key path by 'type': at the provider level a path that starts with a
// root prefix (the root alone names the root key), below it a path relative to the
// enclosing key. 'saved' is what LeaveKey puts back.
HRESULT EnterKey(Walk& walk, const wchar_t* type, Level level, KeyScope& saved)
{
    saved = {walk.root, walk.pathLength};
    const wchar_t* rest = type;
    if (level == Level::Provider) {
        HKEY root = ParseRegistryRoot(rest);
        if (!root)
            return PROVISIONING_BAD_KEY_PATH;
        walk.root = root;
        walk.pathLength = 0;
        walk.path[0] = 0;
        if (!*rest)
            return S_OK;
    }
    size_t length = wcslen(rest);
    size_t separator = walk.pathLength ? 1 : 0;
    if (!IsRelativeKeyPath(rest) || walk.pathLength + separator + length >= KEY_PATH_CHARS) {
        walk.root = saved.root;
        walk.pathLength = saved.pathLength;
        walk.path[walk.pathLength] = 0;
        return PROVISIONING_BAD_KEY_PATH;
    }
    if (separator)
        walk.path[walk.pathLength++] = L'\\';
    memcpy(walk.path + walk.pathLength, rest, (length + 1) * sizeof(wchar_t));
    walk.pathLength += length;
    return S_OK;
}

void LeaveKey(Walk& walk, const KeyScope& saved)
{
    walk.root = saved.root;
    walk.pathLength = saved.pathLength;
    walk.path[walk.pathLength] = 0;
}

bool IsBlankText(const wchar_t* text)
{
    return !text || wcsspn(text, L" \t\r\n") == wcslen(text);
}

// What an element may hold besides comments and processing instructions: blank text, and
// elements when it is a characteristic.
HRESULT CheckContent(IXMLDOMNode* node, bool holdsElements)
{
    ComHolder<IXMLDOMNode> child;
    node->get_firstChild(&child.p);
    while (child.p) {
        DOMNodeType type = NODE_INVALID;
        child.p->get_nodeType(&type);
        if (type == NODE_TEXT) {
            BstrHolder text;
            child.p->get_text(&text.text);
            if (!IsBlankText(text.text))
                return PROVISIONING_UNSUPPORTED;
        } else if (!(type == NODE_ELEMENT && holdsElements) && type != NODE_COMMENT &&
                   type != NODE_PROCESSING_INSTRUCTION) {
            return PROVISIONING_UNSUPPORTED;
        }
        IXMLDOMNode* next = nullptr;
        child.p->get_nextSibling(&next);
        child.p->Release();
        child.p = next;
    }
    return S_OK;
}

bool IsAllowedAt(Kind kind, Level level)
{
    switch (level) {
    case Level::Document: return kind == Kind::Characteristic;
    case Level::Provider: return kind == Kind::Characteristic || kind == Kind::NoCharacteristic ||
                                 kind == Kind::CharacteristicQuery;
    case Level::Key: return true;
    }
    return false;
}

bool NamesKey(Kind kind)
{
    return kind == Kind::Characteristic || kind == Kind::NoCharacteristic || kind == Kind::CharacteristicQuery;
}

HRESULT CheckItem(const Item& item, Level level)
{
    if (!item.row || item.unknownAttribute || !item.present[0] || !IsAllowedAt(item.row->kind, level))
        return PROVISIONING_UNSUPPORTED;
    if (level == Level::Document)
        return wcscmp(Target(item), REGISTRY_PROVIDER) == 0 ? S_OK : PROVISIONING_UNKNOWN_PROVIDER;
    if (item.row->kind != Kind::Parm)
        return S_OK;
    const DatatypeRow* datatype = FindDatatype(item);
    if (!datatype)
        return PROVISIONING_UNKNOWN_DATATYPE;
    ValueData data;
    return datatype->encode(Value(item), data);
}

HRESULT CheckChildren(Walk& walk, IXMLDOMNode* parent, Level level);

// Checks one element and what it holds; on a refusal 'refusedElement' names the element.
HRESULT CheckElement(Walk& walk, IXMLDOMNode* node, Level level)
{
    size_t number = walk.element++;
    Item item;
    ReadItem(node, item);
    HRESULT result = CheckItem(item, level);
    bool holdsElements = SUCCEEDED(result) && item.row->kind == Kind::Characteristic;
    if (SUCCEEDED(result))
        result = CheckContent(node, holdsElements);
    KeyScope saved{walk.root, walk.pathLength};
    if (SUCCEEDED(result) && level != Level::Document && NamesKey(item.row->kind)) {
        result = EnterKey(walk, Target(item), level, saved);
        if (SUCCEEDED(result) && item.row->kind == Kind::NoCharacteristic &&
            CheckRegistryKeyDelete(walk.root, walk.path) == RESULT_REGISTRY_ROOT)
            result = PROVISIONING_BAD_KEY_PATH;         // a root key is never deleted, by any name
    }
    if (FAILED(result)) {
        walk.refusedElement = number;
        LeaveKey(walk, saved);
        return result;
    }
    if (holdsElements)
        result = CheckChildren(walk, node, level == Level::Document ? Level::Provider : Level::Key);
    LeaveKey(walk, saved);
    return result;
}

HRESULT CheckChildren(Walk& walk, IXMLDOMNode* parent, Level level)
{
    HRESULT result = S_OK;
    ForEachChildElement(parent, [&](IXMLDOMNode* child) {
        result = CheckElement(walk, child, level);
        return SUCCEEDED(result);
    });
    return result;
}

bool HasChildElements(IXMLDOMNode* node)
{
    return ForEachChildElement(node, [](IXMLDOMNode*) { return false; }) > 0;
}

// Writes a refused document back as it was given, with the refusal at the refused element.
void EchoElement(Walk& walk, IXMLDOMNode* node, int depth)
{
    size_t number = walk.element++;
    Item item;
    ReadItem(node, item);
    HRESULT error = number == walk.refusedElement ? walk.refusal : S_OK;
    if (!item.row || item.row->kind != Kind::Characteristic || !HasChildElements(node)) {
        AppendItem(walk.out, item, depth, error);
        return;
    }
    AppendStartTag(walk.out, item, depth);
    Append(walk.out, L">\r\n");
    if (FAILED(error))
        AppendError(walk.out, depth + 1, error);
    ForEachChildElement(node, [&](IXMLDOMNode* child) {
        EchoElement(walk, child, depth + 1);
        return true;
    });
    AppendEndTag(walk.out, item, depth);
}

// --- applying the items ---

void Report(Walk& walk, const Item& item, int depth, HRESULT result)
{
    if (FAILED(result) && SUCCEEDED(walk.firstFailure))
        walk.firstFailure = result;
    AppendItem(walk.out, item, depth, result);
}

HRESULT FromRegistry(LSTATUS status)
{
    return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

HRESULT CreateKey(const Walk& walk, REGSAM access, HKEY& key)
{
    return FromRegistry(RegCreateKeyExW(walk.root, walk.path, 0, nullptr, 0, access, nullptr, &key, nullptr));
}

HRESULT SetValue(const Walk& walk, const Item& item)
{
    const DatatypeRow* datatype = FindDatatype(item);
    ValueData data;
    HRESULT result = datatype ? datatype->encode(Value(item), data) : PROVISIONING_UNKNOWN_DATATYPE;
    HKEY key = nullptr;
    if (SUCCEEDED(result))
        result = CreateKey(walk, KEY_SET_VALUE, key);
    if (FAILED(result))
        return result;
    result = FromRegistry(RegSetValueExW(key, Target(item), 0, datatype->type, data.bytes, data.size));
    RegCloseKey(key);
    return result;
}

// Deleting what is not there already leaves the registry as the document asks.
HRESULT IgnoreMissing(LSTATUS status)
{
    return status == ERROR_FILE_NOT_FOUND ? S_OK : FromRegistry(status);
}

// A key that became a root's alias after the check is still refused, as the check refuses it.
HRESULT DeleteKey(const Walk& walk)
{
    DWORD result = DeleteRegistryTree(walk.root, walk.path);
    return result == RESULT_REGISTRY_ROOT ? PROVISIONING_BAD_KEY_PATH : IgnoreMissing(static_cast<LSTATUS>(result));
}

HRESULT DeleteValue(const Walk& walk, const Item& item)
{
    HKEY key;
    LSTATUS status = RegOpenKeyExW(walk.root, walk.path, 0, KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS)
        return IgnoreMissing(status);
    status = RegDeleteValueW(key, Target(item));
    RegCloseKey(key);
    return IgnoreMissing(status);
}

// A value read from the registry, with room for a terminator behind its bytes.
struct StoredValue {
    DWORD type = REG_NONE;
    BYTE* bytes = nullptr;
    DWORD size = 0;
    ~StoredValue() { delete[] bytes; }
};

LSTATUS ReadValue(HKEY key, const wchar_t* name, StoredValue& value)
{
    LSTATUS status = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &value.size);
    if (status != ERROR_SUCCESS)
        return status;
    value.bytes = new (std::nothrow) BYTE[value.size + sizeof(wchar_t)]();
    if (!value.bytes)
        return ERROR_OUTOFMEMORY;
    return RegQueryValueExW(key, name, nullptr, &value.type, value.bytes, &value.size);
}

void AppendBase64(Output& out, const BYTE* bytes, DWORD size)
{
    const wchar_t DIGITS[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (DWORD i = 0; i < size; i += 3) {
        unsigned group = bytes[i] << 16 | (i + 1 < size ? bytes[i + 1] << 8 : 0) | (i + 2 < size ? bytes[i + 2] : 0);
        wchar_t quad[4];
        for (int k = 0; k < 4; ++k)
            quad[k] = DIGITS[(group >> (18 - 6 * k)) & 63];
        if (i + 1 >= size)
            quad[2] = L'=';
        if (i + 2 >= size)
            quad[3] = L'=';
        Append(out, quad, 4);
    }
}

// The value text of a registry value in the datatype it answers with: a text up to its
// NUL, a list joined with U+F000 up to its empty item, a DWORD in signed decimal, and
// any other data in base64.
const wchar_t* AppendValueText(Output& out, DWORD type, const BYTE* bytes, DWORD size)
{
    auto* units = reinterpret_cast<const wchar_t*>(bytes);
    size_t count = size / sizeof(wchar_t);
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        AppendEscaped(out, units, wcsnlen(units, count));
        return type == REG_SZ ? L"string" : L"expandstring";
    }
    if (type == REG_MULTI_SZ) {
        for (size_t at = 0; at < count && units[at];) {
            size_t length = wcsnlen(units + at, count - at);
            if (at)
                Append(out, L"&#xF000;");
            AppendEscaped(out, units + at, length);
            at += length + 1;
        }
        return L"multiplestring";
    }
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        LONG signedNumber;
        memcpy(&signedNumber, bytes, sizeof signedNumber);
        wchar_t number[16];
        StringCchPrintfW(number, ARRAYSIZE(number), L"%ld", signedNumber);
        Append(out, number);
        return L"integer";
    }
    AppendBase64(out, bytes, size);
    return L"binary";
}

void AppendValueAnswer(Output& out, const wchar_t* name, const StoredValue& value, int depth)
{
    AppendIndent(out, depth);
    Append(out, L"<parm");
    AppendAttribute(out, L"name", name, wcslen(name));
    Append(out, L" value=\"");
    const wchar_t* datatype = AppendValueText(out, value.type, value.bytes, value.size);
    Append(out, L"\" datatype=\"");
    Append(out, datatype);
    Append(out, L"\"/>\r\n");
}

void AnswerValueQuery(Walk& walk, const Item& item, int depth)
{
    HKEY key;
    LSTATUS status = RegOpenKeyExW(walk.root, walk.path, 0, KEY_QUERY_VALUE, &key);
    StoredValue value;
    if (status == ERROR_SUCCESS) {
        status = ReadValue(key, Target(item), value);
        RegCloseKey(key);
    }
    if (status == ERROR_SUCCESS)
        AppendValueAnswer(walk.out, Target(item), value, depth);
    else
        Report(walk, item, depth, FromRegistry(status));
}

// Every value of 'key' as a parm, and every subkey as an empty characteristic.
LSTATUS AppendKeyContents(Output& out, HKEY key, int depth)
{
    DWORD longestKey = 0, longestName = 0, longestData = 0;
    LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &longestKey, nullptr, nullptr,
                                      &longestName, &longestData, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    DWORD nameChars = (longestKey > longestName ? longestKey : longestName) + 1;
    wchar_t* name = new (std::nothrow) wchar_t[nameChars];
    StoredValue value;
    value.bytes = new (std::nothrow) BYTE[longestData + sizeof(wchar_t)];
    if (!name || !value.bytes) {
        delete[] name;
        return ERROR_OUTOFMEMORY;
    }
    for (DWORD i = 0; status == ERROR_SUCCESS; ++i) {
        DWORD length = nameChars;
        value.size = longestData;
        status = RegEnumValueW(key, i, name, &length, nullptr, &value.type, value.bytes, &value.size);
        if (status == ERROR_SUCCESS)
            AppendValueAnswer(out, name, value, depth);
    }
    if (status == ERROR_NO_MORE_ITEMS)
        status = ERROR_SUCCESS;
    for (DWORD i = 0; status == ERROR_SUCCESS; ++i) {
        DWORD length = nameChars;
        status = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS) {
            AppendIndent(out, depth);
            Append(out, L"<characteristic");
            AppendAttribute(out, L"type", name, length);
            Append(out, L"/>\r\n");
        }
    }
    delete[] name;
    return status == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : status;
}

// The answer to a characteristic-query is a characteristic holding the key's contents.
void AnswerKeyQuery(Walk& walk, const Item& item, int depth)
{
    HKEY key;
    LSTATUS status = RegOpenKeyExW(walk.root, walk.path, 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) {
        Report(walk, item, depth, FromRegistry(status));
        return;
    }
    AppendIndent(walk.out, depth);
    Append(walk.out, L"<characteristic");
    AppendAttribute(walk.out, L"type", Target(item), wcslen(Target(item)));
    Append(walk.out, L">\r\n");
    status = AppendKeyContents(walk.out, key, depth + 1);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        if (SUCCEEDED(walk.firstFailure))
            walk.firstFailure = FromRegistry(status);
        AppendError(walk.out, depth + 1, FromRegistry(status));
    }
    AppendIndent(walk.out, depth);
    Append(walk.out, L"</characteristic>\r\n");
}

void ApplyElement(Walk& walk, IXMLDOMNode* node, Level level, int depth);

// A characteristic's items run inside its key. One that holds no item at all asks for
// the key itself, which is then created; otherwise keys are made by the values written.
void ApplyCharacteristic(Walk& walk, IXMLDOMNode* node, const Item& item, Level level, int depth)
{
    if (!HasChildElements(node)) {
        HKEY key = nullptr;
        HRESULT result = level == Level::Document ? S_OK : CreateKey(walk, KEY_QUERY_VALUE, key);
        if (key)
            RegCloseKey(key);
        Report(walk, item, depth, result);
        return;
    }
    AppendStartTag(walk.out, item, depth);
    Append(walk.out, L">\r\n");
    Level inner = level == Level::Document ? Level::Provider : Level::Key;
    ForEachChildElement(node, [&](IXMLDOMNode* child) {
        ApplyElement(walk, child, inner, depth + 1);
        return true;
    });
    AppendEndTag(walk.out, item, depth);
}

void ApplyElement(Walk& walk, IXMLDOMNode* node, Level level, int depth)
{
    Item item;
    ReadItem(node, item);
    if (!item.row)
        return;                                 // the check lets none through
    KeyScope saved{walk.root, walk.pathLength};
    if (level != Level::Document && NamesKey(item.row->kind) && FAILED(EnterKey(walk, Target(item), level, saved)))
        return;
    switch (item.row->kind) {
    case Kind::Characteristic: ApplyCharacteristic(walk, node, item, level, depth); break;
    case Kind::NoCharacteristic: Report(walk, item, depth, DeleteKey(walk)); break;
    case Kind::CharacteristicQuery: AnswerKeyQuery(walk, item, depth); break;
    case Kind::Parm: Report(walk, item, depth, SetValue(walk, item)); break;
    case Kind::NoParm: Report(walk, item, depth, DeleteValue(walk, item)); break;
    case Kind::ParmQuery: AnswerValueQuery(walk, item, depth); break;
    }
    LeaveKey(walk, saved);
}

// --- the document ---

HRESULT LoadDocument(const wchar_t* xml, IXMLDOMDocument*& document, long& line, long& position)
{
    HRESULT result = CoCreateInstance(CLSID_DOM_DOCUMENT_60, nullptr, CLSCTX_INPROC_SERVER, IID_DOM_DOCUMENT,
                                      reinterpret_cast<void**>(&document));
    if (FAILED(result))
        return result;
    document->put_async(VARIANT_FALSE);
    document->put_validateOnParse(VARIANT_FALSE);
    document->put_resolveExternals(VARIANT_FALSE);
    BSTR text = SysAllocString(xml);
    if (!text)
        return E_OUTOFMEMORY;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    document->loadXML(text, &loaded);
    SysFreeString(text);
    if (loaded == VARIANT_TRUE)
        return S_OK;
    ComHolder<IXMLDOMParseError> error;
    if (SUCCEEDED(document->get_parseError(&error.p)) && error.p) {
        error.p->get_line(&line);
        error.p->get_linepos(&position);
    }
    return PROVISIONING_BAD_XML;
}

// The root must be a wap-provisioningdoc without a document type (no entities, nothing
// fetched from elsewhere); the root is element 0.
HRESULT CheckDocument(Walk& walk, IXMLDOMDocument* document, IXMLDOMElement* root)
{
    walk.element = 1;
    walk.refusedElement = 0;
    ComHolder<IXMLDOMDocumentType> doctype;
    if (SUCCEEDED(document->get_doctype(&doctype.p)) && doctype.p)
        return PROVISIONING_UNSUPPORTED;
    BstrHolder name;
    root->get_nodeName(&name.text);
    if (!name.text || wcscmp(name.text, ROOT_ELEMENT) != 0)
        return PROVISIONING_OTHER_ROOT;
    HRESULT result = CheckContent(root, true);
    return FAILED(result) ? result : CheckChildren(walk, root, Level::Document);
}

// Applies an accepted document, or echoes a refused one, under its root element.
void WriteDocument(Walk& walk, IXMLDOMElement* root, HRESULT refusal)
{
    BstrHolder name;
    root->get_nodeName(&name.text);
    const wchar_t* rootName = name.text ? name.text : ROOT_ELEMENT;
    Append(walk.out, L"<");
    Append(walk.out, rootName);
    Append(walk.out, L">\r\n");
    if (FAILED(refusal) && walk.refusedElement == 0)
        AppendError(walk.out, 1, refusal);
    walk.element = 1;
    ForEachChildElement(root, [&](IXMLDOMNode* child) {
        if (FAILED(refusal))
            EchoElement(walk, child, 1);
        else
            ApplyElement(walk, child, Level::Document, 1);
        return true;
    });
    Append(walk.out, L"</");
    Append(walk.out, rootName);
    Append(walk.out, L">\r\n");
}

HRESULT ProcessDocument(const wchar_t* xml, Output& out)
{
    ComHolder<IXMLDOMDocument> document;
    long line = 0, position = 0;
    HRESULT result = LoadDocument(xml, document.p, line, position);
    ComHolder<IXMLDOMElement> root;
    if (SUCCEEDED(result) && (FAILED(document.p->get_documentElement(&root.p)) || !root.p))
        result = PROVISIONING_BAD_XML;
    if (FAILED(result)) {
        Append(out, L"<wap-provisioningdoc>\r\n");
        AppendError(out, 1, result, line, position);
        Append(out, L"</wap-provisioningdoc>\r\n");
        return result;
    }
    Walk walk{};
    walk.refusal = CheckDocument(walk, document.p, root.p);
    walk.out = out;
    WriteDocument(walk, root.p, walk.refusal);
    out = walk.out;
    return FAILED(walk.refusal) ? walk.refusal : walk.firstFailure;
}

} // namespace

HRESULT DMProcessConfigXML(const wchar_t* xml, DWORD flags, wchar_t** output)
{
    if (output)
        *output = nullptr;
    if (!xml)
        return E_INVALIDARG;
    if (flags != CFGFLAG_PROCESS)
        return E_NOTIMPL;
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Output out{};
    HRESULT result = ProcessDocument(xml, out);
    if (SUCCEEDED(com))
        CoUninitialize();
    if (output && !out.failed)
        *output = out.text;
    else
        delete[] out.text;
    return result;
}
