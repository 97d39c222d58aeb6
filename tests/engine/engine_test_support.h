// The language the engine's tests run: the engine's own keywords, a recorder for lines
// that reach a registry importer, and .vrs files as the one file action; and a recorder
// behind the configuration manager's door.
#pragma once
#include "engine/engine.h"
#include <string>

namespace enginetest {

extern const ScriptLanguage TEST_LANGUAGE;

// What the registry importers of TEST_LANGUAGE were handed, one "path:units" or
// "section:<first line>" entry each; cleared by the tests.
extern std::wstring importerCalls;

// The documents the configuration manager was handed, each followed by "|"; cleared by the
// tests. Each is answered with DOCUMENT_RESULT and the output "<echo>" + the document.
extern std::wstring documentCalls;
constexpr DWORD DOCUMENT_RESULT = 0x80070032;

// Installs 'language' for the life of the object and puts the previous one back after.
struct LanguageScope {
    const ScriptLanguage* previous;
    explicit LanguageScope(const ScriptLanguage* language) : previous(InstallScriptLanguage(language)) {}
    ~LanguageScope() { InstallScriptLanguage(previous); }
    LanguageScope(const LanguageScope&) = delete;
    LanguageScope& operator=(const LanguageScope&) = delete;
};

} // namespace enginetest
