// The product configuration: branding and settings (names, web addresses,
// registry locations, file names, menu and toolbar markup) read from one
// document, the member "DovecrestVazediInstallMenu.xml" of the program's
// resources, in binary XML. Root `resource`; its `string` children carry named
// texts, the other children (`file`, `group`, `customization`, `kml:menu`,
// `kml:toolbar` ...) are read by the GUI.
#pragma once

class xml_document;

namespace Common {

// The document, loaded on the first call (from the current directory, beside
// the program, else from the program archive; Common::openResourceFile), or
// null when it could not be loaded. A failed load is not retried. Never
// changed afterwards, so it may be read from any thread.
xml_document* productConfiguration();

// The first text piece of the first `string` child of the root whose `name`
// equals `key` exactly (each key byte taken as one UTF-16 unit), or null. The
// text stays valid until the process ends; an empty value is "", not null.
const char16_t* lookupConfigString(const char* key);
const char16_t* getConfigString(const char* key);

// The same look-up in any document (tools, tests).
const char16_t* findConfigString(const xml_document& document, const char* key);

namespace testing {
// Drops the loaded configuration; the next call loads it again. Texts handed
// out before become invalid.
void reloadProductConfiguration();
}  // namespace testing

}  // namespace Common
