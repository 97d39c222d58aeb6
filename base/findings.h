// What the checker (Varnolt.exe /check) reports. Each finding has a stable code, written
// VRnnnn, and a place: a position in the text that was read. The checker installs the one
// finding sink while it reads a text; the readers below it (the registry importer, the
// provisioning check, each keyword's argument check) report to it what they would skip,
// refuse or misread at run time. Outside a check no sink is installed, and a report costs
// one pointer test. The messages and severities are the checker's (engine/check.cpp); the
// guide and the README list every code.
#pragma once
#include "base/base.h"

enum FindingCode : unsigned short {
    FINDING_NONE = 0,
    // Lines and their structure, found by the checker itself.
    FINDING_UNKNOWN_KEYWORD = 1001,
    FINDING_LINE_TOO_LONG = 1002,
    FINDING_BLOCK_NOT_CLOSED = 1003,
    FINDING_ELSE_WITHOUT_IFEX = 1004,
    FINDING_ENDP_OUTSIDE_PROCEDURE = 1005,
    FINDING_LABEL_NOT_FOUND = 1006,
    FINDING_LABEL_DEFINED_TWICE = 1007,
    FINDING_PROCEDURE_NOT_ENDED = 1008,
    FINDING_LOADED_FILE_MISSING = 1009,
    FINDING_FILE_UNREADABLE = 1010,
    FINDING_BLANK_BEFORE_KEYWORD = 1011,
    FINDING_LABEL_LANDS_ELSEWHERE = 1012,
    // Arguments, found by each keyword's check with its family's own reader.
    FINDING_REGX_NO_ROOT = 2001,
    FINDING_REGX_NO_VALUE_PART = 2002,
    FINDING_FILE_NO_OPERATOR = 2003,
    FINDING_NUMBER_OUT_OF_RANGE = 2004,
    FINDING_DIALOG_TOO_MANY_ITEMS = 2005,
    FINDING_DIALOG_ITEM_WITHOUT_BAR = 2006,
    FINDING_REGX_BINARY_COMMA = 2007,
    FINDING_FILE_COMMA = 2008,
    // Registry text ('[' sections, .reg files), found by the importer.
    FINDING_REGISTRY_BAD_HEX = 3001,
    FINDING_REGISTRY_UNKNOWN_TYPE = 3002,
    FINDING_REGISTRY_UNTERMINATED_TEXT = 3003,
    FINDING_REGISTRY_UNKNOWN_ROOT = 3004,
    FINDING_REGISTRY_FOREIGN_LINE = 3005,
    FINDING_REGISTRY_NO_EQUALS = 3006,
    FINDING_REGISTRY_KEY_NOT_CLOSED = 3007,
    // Provisioning documents ('<' blocks, provisioning files), found by the provisioning check.
    FINDING_XML_NOT_WELL_FORMED = 4001,
    FINDING_XML_OTHER_ROOT = 4002,
    FINDING_XML_UNKNOWN_PROVIDER = 4003,
    FINDING_XML_UNKNOWN_DATATYPE = 4004,
    FINDING_XML_BAD_VALUE = 4005,
    FINDING_XML_BAD_KEY_PATH = 4006,
    FINDING_XML_UNSUPPORTED = 4007,
    FINDING_XML_NO_MARKER = 4008,
    FINDING_XML_NOT_CHECKED = 4009,
};

// Receives each finding: its code and the position it stands at.
struct FindingSink {
    void (*report)(void* context, FindingCode code, const wchar_t* at);
    void* context;
};

// findings.cpp
// Makes 'sink' the one that receives every finding (nullptr: none); it must outlive its
// use. Returns the previous one.
const FindingSink* SetFindingSink(const FindingSink* sink);
// True while a sink listens: a reader may then look closer at what it would pass over.
bool FindingsWanted();
void ReportFinding(FindingCode code, const wchar_t* at);
