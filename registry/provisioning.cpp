// Provisioning documents: a wap-provisioningdoc whose characteristics are of type Registry.
// The document is read with the platform's XML parser (MSXML through COM) and checked whole
// in one walk, which leaves its elements as a list of items with their keys and value
// bytes; only an accepted list is applied, item by item, through the registry writer. The
// output document, the document echoed back with query answers and errors, is built with
// MSXML as well. See docs/provisioning.md for the subset and the result codes.
#include "registry/registry.h"
#include "base/findings.h"
#include <msxml2.h>
#include <wincrypt.h>
#include <cstdlib>
#include <cwchar>
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
constexpr size_t FIRST_ITEM_CAPACITY = 32;
constexpr size_t ROOT_ITEM = static_cast<size_t>(-1);      // a refusal of the root element itself
constexpr size_t INDENT_CHARS = 2;
constexpr size_t NUMBER_CHARS = 24;

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

// --- the elements of the subset ---

enum class Kind { Characteristic, NoCharacteristic, CharacteristicQuery, Parm, NoParm, ParmQuery };
enum class Level { Document, Provider, Key };

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

struct DatatypeRow;

// An element as written, in document order, and what the check made of it.
struct Item {
    const KindRow* row;                     // nullptr: an element outside the subset
    BSTR name;
    BSTR attributes[ATTRIBUTE_SLOTS];
    bool present[ATTRIBUTE_SLOTS];
    bool unknownAttribute;
    bool holdsElements;                     // a characteristic with elements inside
    int depth;                              // 1 for the root's children
    HKEY root;                              // the key the item names or acts in
    wchar_t* path;
    const DatatypeRow* datatype;            // a parm's, with its value's bytes
    BYTE* bytes;
    DWORD size;
};

// The document's elements below its root, in document order; grown as they are read.
struct ItemList {
    Item* items;
    size_t count;
    size_t capacity;
    bool failed;                            // no memory for an item
};

const wchar_t* Attribute(const Item& item, size_t slot)
{
    return item.attributes[slot] ? item.attributes[slot] : L"";
}

const wchar_t* Target(const Item& item) { return Attribute(item, 0); }
const wchar_t* Value(const Item& item) { return Attribute(item, 1); }

const wchar_t* ElementName(const Item& item)
{
    return item.name ? item.name : L"";
}

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
        SysFreeString(item.attributes[slot]);
        item.attributes[slot] = nullptr;
        attribute.p->get_text(&item.attributes[slot]);
    }
}

void ReadItem(IXMLDOMNode* node, Item& item)
{
    node->get_nodeName(&item.name);
    for (const auto& row : KIND_TABLE)
        if (item.name && wcscmp(item.name, row.element) == 0) {
            item.row = &row;
            ReadAttributes(node, item);
            return;
        }
}

// A new empty item at the end of 'list'; nullptr (and the list failed) without memory.
Item* AddItem(ItemList& list)
{
    if (list.count == list.capacity) {
        size_t capacity = list.capacity ? list.capacity * 2 : FIRST_ITEM_CAPACITY;
        auto* grown = static_cast<Item*>(realloc(list.items, capacity * sizeof(Item)));
        if (!grown) {
            list.failed = true;
            return nullptr;
        }
        list.items = grown;
        list.capacity = capacity;
    }
    Item* item = &list.items[list.count++];
    *item = Item{};
    return item;
}

void FreeItems(ItemList& list)
{
    for (size_t i = 0; i < list.count; ++i) {
        Item& item = list.items[i];
        SysFreeString(item.name);
        for (BSTR attribute : item.attributes)
            SysFreeString(attribute);
        free(item.path);
        free(item.bytes);
    }
    free(list.items);
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

bool HasChildElements(IXMLDOMNode* node)
{
    return ForEachChildElement(node, [](IXMLDOMNode*) { return false; }) > 0;
}

// --- values by datatype ---

// Each encoder makes the bytes the registry stores for 'value' (with malloc, for the item
// to keep), or says why it does not fit.
using Encoder = HRESULT (*)(const wchar_t* value, BYTE*& bytes, DWORD& size);

HRESULT CopyBytes(const void* data, DWORD size, BYTE*& bytes)
{
    bytes = static_cast<BYTE*>(malloc(size ? size : 1));
    if (!bytes)
        return E_OUTOFMEMORY;
    memcpy(bytes, data, size);
    return S_OK;
}

HRESULT EncodeText(const wchar_t* value, BYTE*& bytes, DWORD& size)
{
    size = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    return CopyBytes(value, size, bytes);
}

HRESULT EncodeNumber(DWORD number, BYTE*& bytes, DWORD& size)
{
    size = sizeof number;
    return CopyBytes(&number, size, bytes);
}

// Signed 32-bit decimal, with an optional sign and nothing else around the digits.
HRESULT EncodeInteger(const wchar_t* value, BYTE*& bytes, DWORD& size)
{
    long long number = 0;
    if (!ReadWholeDecimalNumber(value, -2147483648LL, 2147483647LL, number))
        return PROVISIONING_BAD_VALUE;
    return EncodeNumber(static_cast<DWORD>(number), bytes, size);
}

HRESULT EncodeBoolean(const wchar_t* value, BYTE*& bytes, DWORD& size)
{
    if (wcscmp(value, L"1") == 0 || _wcsicmp(value, L"true") == 0)
        return EncodeNumber(1, bytes, size);
    if (wcscmp(value, L"0") == 0 || _wcsicmp(value, L"false") == 0)
        return EncodeNumber(0, bytes, size);
    return PROVISIONING_BAD_VALUE;
}

bool IsBase64Blank(wchar_t unit)
{
    return unit == L' ' || unit == L'\t' || unit == L'\r' || unit == L'\n';
}

bool IsBase64Digit(wchar_t unit)
{
    return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z') || (unit >= L'0' && unit <= L'9') ||
           unit == L'+' || unit == L'/';
}

// Base64 as documents may write it: blanks anywhere, and '=' only to fill the last group
// of four. The platform's decoder takes more ("AQI", "AQ==AQID"), which stays refused.
// 'digits' receives the number of digits.
bool IsWholeBase64(const wchar_t* text, size_t& digits)
{
    size_t padding = 0;
    digits = 0;
    for (; *text; ++text) {
        if (IsBase64Blank(*text))
            continue;
        if (*text == L'=') {
            ++padding;
            continue;
        }
        if (padding || !IsBase64Digit(*text))
            return false;
        ++digits;
    }
    size_t last = digits % 4;
    return last != 1 && padding == (last ? 4 - last : 0);
}

HRESULT EncodeBinary(const wchar_t* value, BYTE*& bytes, DWORD& size)
{
    size_t digits = 0;
    if (!IsWholeBase64(value, digits))
        return PROVISIONING_BAD_VALUE;
    size = 0;
    if (digits && !CryptStringToBinaryW(value, 0, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr))
        return PROVISIONING_BAD_VALUE;
    bytes = static_cast<BYTE*>(malloc(size ? size : 1));
    if (!bytes)
        return E_OUTOFMEMORY;
    if (digits && !CryptStringToBinaryW(value, 0, CRYPT_STRING_BASE64, bytes, &size, nullptr, nullptr))
        return PROVISIONING_BAD_VALUE;
    return S_OK;
}

// Items separated by U+F000 become a REG_MULTI_SZ; an empty value is the empty list. An
// empty item would end the list early, so it does not fit.
HRESULT EncodeMultiString(const wchar_t* value, BYTE*& bytes, DWORD& size)
{
    size_t length = wcslen(value);
    if (length && (value[0] == MULTI_STRING_SEPARATOR || value[length - 1] == MULTI_STRING_SEPARATOR ||
                   wcsstr(value, L"\xF000\xF000")))
        return PROVISIONING_BAD_VALUE;
    size_t units = length ? length + 2 : 1;
    bytes = static_cast<BYTE*>(malloc(units * sizeof(wchar_t)));
    if (!bytes)
        return E_OUTOFMEMORY;
    auto* list = reinterpret_cast<wchar_t*>(bytes);
    for (size_t i = 0; i < length; ++i)
        list[i] = value[i] == MULTI_STRING_SEPARATOR ? 0 : value[i];
    list[units - 1] = 0;
    list[units > 1 ? units - 2 : 0] = 0;
    size = static_cast<DWORD>(units * sizeof(wchar_t));
    return S_OK;
}

struct DatatypeRow {
    const wchar_t* name;
    DWORD type;
    Encoder encode;
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

// --- the check ---

// The walk that reads and checks the document: the key path of the element it stands in,
// and the first refusal. Elements after a refusal are read for the echo, not checked.
struct Check {
    ItemList list;
    HRESULT refusal;
    size_t refusedItem;
    HKEY root;
    wchar_t path[KEY_PATH_CHARS];
    size_t pathLength;
};

struct KeyScope {
    HKEY root;
    size_t pathLength;
};

void LeaveKey(Check& check, const KeyScope& saved)
{
    check.root = saved.root;
    check.pathLength = saved.pathLength;
    check.path[check.pathLength] = 0;
}

// A relative key path: not empty, and no empty part between backslashes.
bool IsRelativeKeyPath(const wchar_t* path)
{
    size_t length = wcslen(path);
    return length && path[0] != L'\\' && path[length - 1] != L'\\' && !wcsstr(path, L"\\\\");
}

// Extends the walk's key path by 'type': at the provider level a path that starts with a
// root prefix (the root alone names the root key), below it a path relative to the
// enclosing key. A refused path leaves the walk's path as it was.
HRESULT EnterKey(Check& check, const wchar_t* type, Level level)
{
    KeyScope saved{check.root, check.pathLength};
    const wchar_t* rest = type;
    if (level == Level::Provider) {
        HKEY root = ParseRegistryRoot(rest);
        if (!root)
            return PROVISIONING_BAD_KEY_PATH;
        check.root = root;
        check.pathLength = 0;
        check.path[0] = 0;
        if (!*rest)
            return S_OK;
    }
    size_t length = wcslen(rest);
    size_t separator = check.pathLength ? 1 : 0;
    if (!IsRelativeKeyPath(rest) || check.pathLength + separator + length >= KEY_PATH_CHARS) {
        LeaveKey(check, saved);
        return PROVISIONING_BAD_KEY_PATH;
    }
    if (separator)
        check.path[check.pathLength++] = L'\\';
    memcpy(check.path + check.pathLength, rest, (length + 1) * sizeof(wchar_t));
    check.pathLength += length;
    return S_OK;
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

// The item itself: its element, attributes and place, the provider's name, and a parm's
// value, whose bytes the item keeps.
HRESULT CheckItem(Item& item, Level level)
{
    if (!item.row || item.unknownAttribute || !item.present[0] || !IsAllowedAt(item.row->kind, level))
        return PROVISIONING_UNSUPPORTED;
    if (level == Level::Document)
        return wcscmp(Target(item), REGISTRY_PROVIDER) == 0 ? S_OK : PROVISIONING_UNKNOWN_PROVIDER;
    if (item.row->kind != Kind::Parm)
        return S_OK;
    item.datatype = FindDatatype(item);
    if (!item.datatype)
        return PROVISIONING_UNKNOWN_DATATYPE;
    return item.datatype->encode(Value(item), item.bytes, item.size);
}

// Checks the element of the item at 'index' in the walk's key, which it extends for a key
// it names; the item keeps the key it names or acts in.
HRESULT CheckElement(Check& check, IXMLDOMNode* node, size_t index, Level level)
{
    Item& item = check.list.items[index];
    HRESULT result = CheckItem(item, level);
    if (SUCCEEDED(result))
        result = CheckContent(node, item.row->kind == Kind::Characteristic);
    if (SUCCEEDED(result) && level != Level::Document && NamesKey(item.row->kind)) {
        result = EnterKey(check, Target(item), level);
        if (SUCCEEDED(result) && item.row->kind == Kind::NoCharacteristic &&
            CheckRegistryKeyDelete(check.root, check.path) == RESULT_REGISTRY_ROOT)
            result = PROVISIONING_BAD_KEY_PATH;         // a root key is never deleted, by any name
    }
    if (FAILED(result) || level == Level::Document)
        return result;
    item.root = check.root;
    item.path = static_cast<wchar_t*>(malloc((check.pathLength + 1) * sizeof(wchar_t)));
    if (!item.path)
        return E_OUTOFMEMORY;
    memcpy(item.path, check.path, (check.pathLength + 1) * sizeof(wchar_t));
    return S_OK;
}

Level InnerLevel(Level level)
{
    return level == Level::Document ? Level::Provider : Level::Key;
}

// Reads the element 'node' and, up to the first refusal, checks it; then the elements
// inside a characteristic, at 'depth' + 1.
void ReadElement(Check& check, IXMLDOMNode* node, Level level, int depth)
{
    size_t index = check.list.count;
    Item* item = AddItem(check.list);
    if (!item)
        return;
    ReadItem(node, *item);
    item->depth = depth;
    item->holdsElements = item->row && item->row->kind == Kind::Characteristic && HasChildElements(node);
    bool holdsElements = item->holdsElements;
    KeyScope saved{check.root, check.pathLength};
    if (SUCCEEDED(check.refusal)) {
        HRESULT result = CheckElement(check, node, index, level);
        if (FAILED(result)) {
            check.refusal = result;
            check.refusedItem = index;
        }
    }
    if (holdsElements)
        ForEachChildElement(node, [&](IXMLDOMNode* child) {
            ReadElement(check, child, InnerLevel(level), depth + 1);
            return !check.list.failed;
        });
    LeaveKey(check, saved);
}

// The root must be a wap-provisioningdoc without a document type (no entities, nothing
// fetched from elsewhere).
HRESULT CheckRoot(IXMLDOMDocument* document, IXMLDOMElement* root)
{
    ComHolder<IXMLDOMDocumentType> doctype;
    if (SUCCEEDED(document->get_doctype(&doctype.p)) && doctype.p)
        return PROVISIONING_UNSUPPORTED;
    BstrHolder name;
    root->get_nodeName(&name.text);
    if (!name.text || wcscmp(name.text, ROOT_ELEMENT) != 0)
        return PROVISIONING_OTHER_ROOT;
    return CheckContent(root, true);
}

// --- the output document ---

// Built node by node in a document of its own. Every element stands on a line of its own,
// indented by its depth; a failure drops the output, never the result.
struct Output {
    IXMLDOMDocument* document;      // nullptr when no output is wanted or it failed
};

void DropOutput(Output& out)
{
    if (out.document)
        out.document->Release();
    out.document = nullptr;
}

void AppendNode(Output& out, IXMLDOMNode* parent, IXMLDOMNode* node)
{
    ComHolder<IXMLDOMNode> appended;
    if (out.document && (!parent || FAILED(parent->appendChild(node, &appended.p))))
        DropOutput(out);
}

// A line break and the indent of 'depth' as a text node of 'parent': before each element
// inside it, and before its end tag at its own depth.
void AppendLineBreak(Output& out, IXMLDOMNode* parent, int depth)
{
    if (!out.document)
        return;
    BstrHolder text;
    ComHolder<IXMLDOMText> node;
    text.text = SysAllocStringLen(nullptr, static_cast<UINT>(1 + INDENT_CHARS * static_cast<size_t>(depth)));
    if (!text.text)
        return DropOutput(out);
    text.text[0] = L'\n';              // the serializer writes it as CR LF
    wmemset(text.text + 1, L' ', SysStringLen(text.text) - 1);
    if (FAILED(out.document->createTextNode(text.text, &node.p)) || !node.p)
        return DropOutput(out);
    AppendNode(out, parent, node.p);
}

// Appends the element 'name' to 'parent' on a line of its own at 'depth'; the caller
// releases it. nullptr once the output has failed.
IXMLDOMElement* AppendElement(Output& out, IXMLDOMNode* parent, const wchar_t* name, int depth)
{
    AppendLineBreak(out, parent, depth);
    BstrHolder bstr;
    IXMLDOMElement* element = nullptr;
    if (out.document)
        bstr.text = SysAllocString(name);
    if (!bstr.text || FAILED(out.document->createElement(bstr.text, &element)) || !element) {
        DropOutput(out);
        return nullptr;
    }
    AppendNode(out, parent, element);
    return element;
}

// Ends an element that holds elements: its end tag on a line of its own at 'depth'.
void EndElement(Output& out, IXMLDOMNode* element, int depth)
{
    AppendLineBreak(out, element, depth);
}

void SetAttribute(Output& out, IXMLDOMElement* element, const wchar_t* name, const wchar_t* value, size_t count)
{
    if (!out.document || !element)
        return;
    BstrHolder attribute;
    attribute.text = SysAllocString(name);
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocStringLen(value, static_cast<UINT>(count));
    if (!attribute.text || !text.bstrVal || FAILED(element->setAttribute(attribute.text, text)))
        DropOutput(out);
    SysFreeString(text.bstrVal);
}

void SetAttribute(Output& out, IXMLDOMElement* element, const wchar_t* name, const wchar_t* value)
{
    SetAttribute(out, element, name, value, wcslen(value));
}

void AppendError(Output& out, IXMLDOMNode* parent, int depth, HRESULT code, long line = 0, long position = 0)
{
    ComHolder<IXMLDOMElement> error;
    error.p = AppendElement(out, parent, L"error", depth);
    wchar_t number[NUMBER_CHARS];
    StringCchPrintfW(number, NUMBER_CHARS, L"0x%08lX", static_cast<unsigned long>(code));
    SetAttribute(out, error.p, L"code", number);
    if (line <= 0)
        return;
    StringCchPrintfW(number, NUMBER_CHARS, L"%ld", line);
    SetAttribute(out, error.p, L"line", number);
    StringCchPrintfW(number, NUMBER_CHARS, L"%ld", position);
    SetAttribute(out, error.p, L"position", number);
}

// The element as written: its name, and its attributes of the subset in the table's order.
IXMLDOMElement* AppendItemElement(Output& out, IXMLDOMNode* parent, const Item& item)
{
    IXMLDOMElement* element = AppendElement(out, parent, ElementName(item), item.depth);
    for (size_t slot = 0; item.row && slot < ATTRIBUTE_SLOTS; ++slot)
        if (item.present[slot])
            SetAttribute(out, element, item.row->attributes[slot], Attribute(item, slot));
    return element;
}

// The element as written, with an error element inside when 'error' is a failure.
void AppendItem(Output& out, IXMLDOMNode* parent, const Item& item, HRESULT error)
{
    ComHolder<IXMLDOMElement> element;
    element.p = AppendItemElement(out, parent, item);
    if (SUCCEEDED(error))
        return;
    AppendError(out, element.p, item.depth + 1, error);
    EndElement(out, element.p, item.depth);
}

// Appends the hexadecimal reference of 'unit' ("&#xF000;") at 'out'; its length.
size_t WriteReference(wchar_t* out, unsigned unit)
{
    wchar_t reference[NUMBER_CHARS];
    StringCchPrintfW(reference, NUMBER_CHARS, L"&#x%X;", unit);
    size_t length = wcslen(reference);
    if (out)
        wmemcpy(out, reference, length);
    return length;
}

// The serializer leaves the multi-string separator and control characters of attribute
// values as they are, and writes tab, line feed and carriage return there as decimal
// references. The output shows every such character as a hexadecimal reference, which
// keeps the separator visible and the output XML. Writes into 'out' when it is given;
// returns the units.
size_t WriteOutputText(const wchar_t* xml, size_t count, wchar_t* out)
{
    size_t written = 0;
    for (size_t i = 0; i < count; ++i) {
        wchar_t unit = xml[i];
        size_t digits = unit == L'&' && i + 2 < count && xml[i + 1] == L'#' ? wcsspn(xml + i + 2, L"0123456789") : 0;
        if (digits && i + 2 + digits < count && xml[i + 2 + digits] == L';') {
            written += WriteReference(out ? out + written : nullptr, wcstoul(xml + i + 2, nullptr, 10));
            i += 2 + digits;
        } else if (unit == MULTI_STRING_SEPARATOR || (unit < 0x20 && unit != L'\r' && unit != L'\n')) {
            written += WriteReference(out ? out + written : nullptr, unit);
        } else {
            if (out)
                out[written] = unit;
            ++written;
        }
    }
    return written;
}

// The output document as a text for the caller to delete[]; nullptr when it failed.
wchar_t* SerializeOutput(Output& out)
{
    BstrHolder xml;
    if (!out.document || FAILED(out.document->get_xml(&xml.text)) || !xml.text)
        return nullptr;
    size_t count = SysStringLen(xml.text);
    size_t units = WriteOutputText(xml.text, count, nullptr);
    wchar_t* text = new (std::nothrow) wchar_t[units + 1];
    if (!text)
        return nullptr;
    WriteOutputText(xml.text, count, text);
    text[units] = 0;
    return text;
}

HRESULT CreateDocument(IXMLDOMDocument*& document)
{
    return CoCreateInstance(CLSID_DOM_DOCUMENT_60, nullptr, CLSCTX_INPROC_SERVER, IID_DOM_DOCUMENT,
                            reinterpret_cast<void**>(&document));
}

// The output's root element (the caller releases it), or nullptr.
IXMLDOMElement* StartOutput(Output& out, const wchar_t* rootName)
{
    BstrHolder name;
    IXMLDOMElement* root = nullptr;
    if (out.document)
        name.text = SysAllocString(rootName);
    if (!name.text || FAILED(out.document->createElement(name.text, &root)) || !root) {
        DropOutput(out);
        return nullptr;
    }
    AppendNode(out, out.document, root);
    return root;
}

// --- the echo of a refused document ---

// Writes the item at 'index', and the items inside it, as they were given, with the
// refusal at the refused item; returns the index after them.
size_t EchoItem(Output& out, IXMLDOMNode* parent, const Check& check, size_t index)
{
    const Item& item = check.list.items[index];
    HRESULT error = index == check.refusedItem ? check.refusal : S_OK;
    if (!item.holdsElements) {
        AppendItem(out, parent, item, error);
        return index + 1;
    }
    ComHolder<IXMLDOMElement> element;
    element.p = AppendItemElement(out, parent, item);
    if (FAILED(error))
        AppendError(out, element.p, item.depth + 1, error);
    size_t next = index + 1;
    while (next < check.list.count && check.list.items[next].depth > item.depth)
        next = EchoItem(out, element.p, check, next);
    EndElement(out, element.p, item.depth);
    return next;
}

// --- applying the items ---

struct Apply {
    Output out;
    HRESULT firstFailure;
};

void Report(Apply& apply, IXMLDOMNode* parent, const Item& item, HRESULT result)
{
    if (FAILED(result) && SUCCEEDED(apply.firstFailure))
        apply.firstFailure = result;
    AppendItem(apply.out, parent, item, result);
}

HRESULT FromRegistry(DWORD status)
{
    return HRESULT_FROM_WIN32(status);
}

// Deleting what is not there already leaves the registry as the document asks.
HRESULT IgnoreMissing(DWORD status)
{
    return status == ERROR_FILE_NOT_FOUND ? S_OK : FromRegistry(status);
}

HRESULT CreateKey(const Item& item)
{
    HKEY key = nullptr;
    HRESULT result = FromRegistry(CreateRegistryKey(item.root, item.path, KEY_QUERY_VALUE, &key));
    if (key)
        RegCloseKey(key);
    return result;
}

HRESULT SetValue(const Item& item)
{
    return FromRegistry(SetRegistryValue({item.root, item.path, nullptr}, Target(item), item.datatype->type,
                                         item.bytes, item.size));
}

HRESULT DeleteValue(const Item& item)
{
    return IgnoreMissing(DeleteRegistryValue({item.root, item.path, nullptr}, Target(item)));
}

// A key that became a root's alias after the check is still refused, as the check refuses it.
HRESULT DeleteKey(const Item& item)
{
    DWORD result = DeleteRegistryTree(item.root, item.path);
    return result == RESULT_REGISTRY_ROOT ? PROVISIONING_BAD_KEY_PATH : IgnoreMissing(result);
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

// The items of a REG_MULTI_SZ up to its empty item, joined by U+F000; the units written
// into 'out' when it is given.
size_t JoinMultiString(const wchar_t* units, size_t count, wchar_t* out)
{
    size_t written = 0;
    for (size_t at = 0; at < count && units[at];) {
        size_t length = wcsnlen(units + at, count - at);
        if (at && out)
            out[written] = MULTI_STRING_SEPARATOR;
        written += at ? 1 : 0;
        if (out)
            wmemcpy(out + written, units + at, length);
        written += length;
        at += length + 1;
    }
    return written;
}

BSTR Base64Text(const BYTE* bytes, DWORD size)
{
    constexpr DWORD FLAGS = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD chars = 0;
    if (!size)
        return SysAllocString(L"");
    if (!CryptBinaryToStringW(bytes, size, FLAGS, nullptr, &chars) || !chars)
        return nullptr;
    BSTR text = SysAllocStringLen(nullptr, chars - 1);     // room for the terminator too
    if (text && !CryptBinaryToStringW(bytes, size, FLAGS, text, &chars)) {
        SysFreeString(text);
        return nullptr;
    }
    return text;
}

// The value text of a registry value in the datatype it answers with: a text up to its
// NUL, a list joined with U+F000 up to its empty item, a DWORD in signed decimal, and
// any other data in base64. nullptr without memory.
BSTR ValueText(const StoredValue& value, const wchar_t*& datatype)
{
    auto* units = reinterpret_cast<const wchar_t*>(value.bytes);
    size_t count = value.size / sizeof(wchar_t);
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
        datatype = value.type == REG_SZ ? L"string" : L"expandstring";
        return SysAllocStringLen(units, static_cast<UINT>(wcsnlen(units, count)));
    }
    if (value.type == REG_MULTI_SZ) {
        datatype = L"multiplestring";
        BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(JoinMultiString(units, count, nullptr)));
        if (text)
            JoinMultiString(units, count, text);
        return text;
    }
    if (value.type == REG_DWORD && value.size == sizeof(DWORD)) {
        datatype = L"integer";
        LONG signedNumber;
        memcpy(&signedNumber, value.bytes, sizeof signedNumber);
        wchar_t number[NUMBER_CHARS];
        StringCchPrintfW(number, NUMBER_CHARS, L"%ld", signedNumber);
        return SysAllocString(number);
    }
    datatype = L"binary";
    return Base64Text(value.bytes, value.size);
}

void AppendValueAnswer(Output& out, IXMLDOMNode* parent, const wchar_t* name, const StoredValue& value, int depth)
{
    const wchar_t* datatype = nullptr;
    BstrHolder text;
    text.text = ValueText(value, datatype);
    if (!text.text)
        return DropOutput(out);
    ComHolder<IXMLDOMElement> parm;
    parm.p = AppendElement(out, parent, L"parm", depth);
    SetAttribute(out, parm.p, L"name", name);
    SetAttribute(out, parm.p, L"value", text.text, SysStringLen(text.text));
    SetAttribute(out, parm.p, L"datatype", datatype);
}

void AnswerValueQuery(Apply& apply, IXMLDOMNode* parent, const Item& item)
{
    HKEY key;
    LSTATUS status = RegOpenKeyExW(item.root, item.path, 0, KEY_QUERY_VALUE, &key);
    StoredValue value;
    if (status == ERROR_SUCCESS) {
        status = ReadValue(key, Target(item), value);
        RegCloseKey(key);
    }
    if (status == ERROR_SUCCESS)
        AppendValueAnswer(apply.out, parent, Target(item), value, item.depth);
    else
        Report(apply, parent, item, FromRegistry(static_cast<DWORD>(status)));
}

// Every value of 'key' as a parm, and every subkey as an empty characteristic.
LSTATUS AppendKeyContents(Output& out, IXMLDOMNode* parent, HKEY key, int depth)
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
            AppendValueAnswer(out, parent, name, value, depth);
    }
    if (status == ERROR_NO_MORE_ITEMS)
        status = ERROR_SUCCESS;
    for (DWORD i = 0; status == ERROR_SUCCESS; ++i) {
        DWORD length = nameChars;
        status = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS) {
            ComHolder<IXMLDOMElement> subkey;
            subkey.p = AppendElement(out, parent, L"characteristic", depth);
            SetAttribute(out, subkey.p, L"type", name, length);
        }
    }
    delete[] name;
    return status == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : status;
}

// The answer to a characteristic-query is a characteristic holding the key's contents.
void AnswerKeyQuery(Apply& apply, IXMLDOMNode* parent, const Item& item)
{
    HKEY key;
    LSTATUS status = RegOpenKeyExW(item.root, item.path, 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS)
        return Report(apply, parent, item, FromRegistry(static_cast<DWORD>(status)));
    ComHolder<IXMLDOMElement> answer;
    answer.p = AppendElement(apply.out, parent, L"characteristic", item.depth);
    SetAttribute(apply.out, answer.p, L"type", Target(item));
    status = AppendKeyContents(apply.out, answer.p, key, item.depth + 1);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        if (SUCCEEDED(apply.firstFailure))
            apply.firstFailure = FromRegistry(static_cast<DWORD>(status));
        AppendError(apply.out, answer.p, item.depth + 1, FromRegistry(static_cast<DWORD>(status)));
    }
    EndElement(apply.out, answer.p, item.depth);
}

size_t ApplyItem(Apply& apply, IXMLDOMNode* parent, const ItemList& list, size_t index);

// A characteristic's items run inside its key. One that holds no item at all asks for
// the key itself, which is then created; otherwise keys are made by the values written.
size_t ApplyCharacteristic(Apply& apply, IXMLDOMNode* parent, const ItemList& list, size_t index)
{
    const Item& item = list.items[index];
    if (!item.holdsElements) {
        Report(apply, parent, item, item.depth == 1 ? S_OK : CreateKey(item));
        return index + 1;
    }
    ComHolder<IXMLDOMElement> element;
    element.p = AppendItemElement(apply.out, parent, item);
    size_t next = index + 1;
    while (next < list.count && list.items[next].depth > item.depth)
        next = ApplyItem(apply, element.p, list, next);
    EndElement(apply.out, element.p, item.depth);
    return next;
}

// Applies the item at 'index' (and those inside it) and writes what it gives; returns the
// index after them.
size_t ApplyItem(Apply& apply, IXMLDOMNode* parent, const ItemList& list, size_t index)
{
    const Item& item = list.items[index];
    switch (item.row->kind) {           // the check lets no element outside the subset through
    case Kind::Characteristic: return ApplyCharacteristic(apply, parent, list, index);
    case Kind::NoCharacteristic: Report(apply, parent, item, DeleteKey(item)); break;
    case Kind::CharacteristicQuery: AnswerKeyQuery(apply, parent, item); break;
    case Kind::Parm: Report(apply, parent, item, SetValue(item)); break;
    case Kind::NoParm: Report(apply, parent, item, DeleteValue(item)); break;
    case Kind::ParmQuery: AnswerValueQuery(apply, parent, item); break;
    }
    return index + 1;
}

// --- the document ---

HRESULT LoadDocument(const wchar_t* xml, IXMLDOMDocument*& document, long& line, long& position)
{
    HRESULT result = CreateDocument(document);
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

// Reads and checks the whole document below 'root' into 'check'.
void CheckDocument(Check& check, IXMLDOMDocument* document, IXMLDOMElement* root)
{
    check.refusal = CheckRoot(document, root);
    check.refusedItem = ROOT_ITEM;
    ForEachChildElement(root, [&](IXMLDOMNode* child) {
        ReadElement(check, child, Level::Document, 1);
        return !check.list.failed;
    });
}

// Applies an accepted document, or echoes a refused one, under the output's root element,
// named as the document's.
HRESULT WriteDocument(const Check& check, IXMLDOMElement* root, Output& out)
{
    BstrHolder name;
    root->get_nodeName(&name.text);
    ComHolder<IXMLDOMElement> outRoot;
    outRoot.p = StartOutput(out, name.text ? name.text : ROOT_ELEMENT);
    Apply apply{out, S_OK};
    if (FAILED(check.refusal) && check.refusedItem == ROOT_ITEM)
        AppendError(apply.out, outRoot.p, 1, check.refusal);
    for (size_t index = 0; index < check.list.count;)
        index = FAILED(check.refusal) ? EchoItem(apply.out, outRoot.p, check, index)
                                      : ApplyItem(apply, outRoot.p, check.list, index);
    EndElement(apply.out, outRoot.p, 0);
    out = apply.out;
    return FAILED(check.refusal) ? check.refusal : apply.firstFailure;
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
        ComHolder<IXMLDOMElement> outRoot;
        outRoot.p = StartOutput(out, ROOT_ELEMENT);
        AppendError(out, outRoot.p, 1, result, line, position);
        EndElement(out, outRoot.p, 0);
        return result;
    }
    Check check{};
    CheckDocument(check, document.p, root.p);
    if (check.list.failed) {
        FreeItems(check.list);
        DropOutput(out);
        return E_OUTOFMEMORY;
    }
    result = WriteDocument(check, root.p, out);
    FreeItems(check.list);
    return result;
}

// --- the check alone ---

// The start of line 'line' (from 1) of 'xml', 'column' units on (from 1) but not past that
// line's end; the parser counts CR LF, CR and LF as one line break each.
const wchar_t* PositionOfLine(const wchar_t* xml, long line, long column)
{
    const wchar_t* at = xml;
    for (long current = 1; current < line && *at; ++at)
        if (*at == L'\n' || (*at == L'\r' && at[1] != L'\n'))
            ++current;
    for (long unit = 1; unit < column && *at && *at != L'\r' && *at != L'\n'; ++unit)
        ++at;
    return at;
}

// Skips the markup at 'at' ('<' before it) that is no start tag: a comment, a CDATA
// section, a processing instruction, a document type or an end tag; nullptr when 'at'
// begins a start tag.
const wchar_t* SkipOtherMarkup(const wchar_t* at)
{
    struct Markup {
        const wchar_t* open;
        const wchar_t* close;
    };
    static const Markup OTHER_MARKUP[] = {
        {L"!--", L"-->"}, {L"![CDATA[", L"]]>"}, {L"?", L"?>"}, {L"!", L">"}, {L"/", L">"},
    };
    for (const auto& markup : OTHER_MARKUP) {
        size_t length = wcslen(markup.open);
        if (wcsncmp(at, markup.open, length) == 0) {
            const wchar_t* close = wcsstr(at + length, markup.close);
            return close ? close : at + wcslen(at);
        }
    }
    return nullptr;
}

// The '<' of element 'ordinal' (0: the root) in document order: in a well-formed document
// every other '<' opens other markup. The list of items holds the elements below the root
// in document order up to a refused one, so item i is element i + 1.
const wchar_t* StartOfElement(const wchar_t* xml, size_t ordinal)
{
    size_t seen = 0;
    for (const wchar_t* at = wcschr(xml, L'<'); at; at = wcschr(at + 1, L'<')) {
        const wchar_t* skipped = SkipOtherMarkup(at + 1);
        if (skipped) {
            at = skipped;
            if (!*at)
                break;
            continue;
        }
        if (seen++ == ordinal)
            return at;
    }
    return xml;
}

struct RefusalFinding {
    HRESULT refusal;
    FindingCode code;
};

const RefusalFinding REFUSAL_FINDINGS[] = {
    {PROVISIONING_BAD_XML, FINDING_XML_NOT_WELL_FORMED},
    {PROVISIONING_OTHER_ROOT, FINDING_XML_OTHER_ROOT},
    {PROVISIONING_UNKNOWN_PROVIDER, FINDING_XML_UNKNOWN_PROVIDER},
    {PROVISIONING_UNKNOWN_DATATYPE, FINDING_XML_UNKNOWN_DATATYPE},
    {PROVISIONING_BAD_VALUE, FINDING_XML_BAD_VALUE},
    {PROVISIONING_BAD_KEY_PATH, FINDING_XML_BAD_KEY_PATH},
    {PROVISIONING_UNSUPPORTED, FINDING_XML_UNSUPPORTED},
};

void ReportRefusal(HRESULT refusal, const wchar_t* at)
{
    FindingCode code = FINDING_XML_NOT_CHECKED;         // no memory, no MSXML
    for (const auto& row : REFUSAL_FINDINGS)
        if (row.refusal == refusal)
            code = row.code;
    ReportFinding(code, at);
}

// Reads and checks the document as ProcessDocument does, and applies nothing.
HRESULT CheckDocumentText(const wchar_t* xml)
{
    ComHolder<IXMLDOMDocument> document;
    long line = 0, position = 0;
    HRESULT result = LoadDocument(xml, document.p, line, position);
    if (FAILED(result)) {
        ReportRefusal(result, line > 0 ? PositionOfLine(xml, line, position) : xml);
        return result;
    }
    ComHolder<IXMLDOMElement> root;
    if (FAILED(document.p->get_documentElement(&root.p)) || !root.p) {
        ReportRefusal(PROVISIONING_BAD_XML, xml);
        return PROVISIONING_BAD_XML;
    }
    Check check{};
    CheckDocument(check, document.p, root.p);
    result = check.list.failed ? E_OUTOFMEMORY : check.refusal;
    if (FAILED(result))
        ReportRefusal(result, StartOfElement(xml, check.refusedItem == ROOT_ITEM ? 0 : check.refusedItem + 1));
    FreeItems(check.list);
    return result;
}

} // namespace

HRESULT CheckProvisioningDocument(const wchar_t* xml)
{
    if (!xml)
        return E_INVALIDARG;
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT result = CheckDocumentText(xml);
    if (SUCCEEDED(com))
        CoUninitialize();
    return result;
}

HRESULT ProcessProvisioningDocument(const wchar_t* xml, wchar_t** output)
{
    if (output)
        *output = nullptr;
    if (!xml)
        return E_INVALIDARG;
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Output out{};
    if (output && FAILED(CreateDocument(out.document)))
        out.document = nullptr;
    HRESULT result = ProcessDocument(xml, out);
    if (output)
        *output = SerializeOutput(out);
    DropOutput(out);
    if (SUCCEEDED(com))
        CoUninitialize();
    return result;
}
