// What the install menu gives the update client: the product its archive's
// package descriptor names, the connection settings (no proxy), and the
// service address with its registry override.
#pragma once

#include <memory>
#include <string>

#include "liveupdate/version.h"
#include "network/uri_resource.h"

class xml_document;

namespace InstallMenuHelper {

// The descriptor "<name>.xml" of the program archive, or null when it is
// missing, unreadable, not "updateInfo" or lacks a valid child.
Processor::RefPtr<LiveUpdate::ProductInformation> readPackageDescriptor(const std::u16string& name);
bool checkPackageDescriptor(const std::u16string& name);
// The same rules on a loaded document (tests, tools).
Processor::RefPtr<LiveUpdate::ProductInformation> productFromDescriptor(const xml_document& document);

// A product without installed patches ("Internal error." when asked).
Processor::RefPtr<LiveUpdate::Product> createProductImpl(Processor::RefPtr<LiveUpdate::ProductInformation> info);
// One configuration per scheme, made on first request.
Processor::RefPtr<LiveUpdate::ProtocolConfigurationAccessor> createProtocolConfigurationAccessor();

// "https://<the maker's update host>", or the "ServerUrl" override verbatim.
std::u16string updateServerAddress();
// HKLM\SOFTWARE\Korvane\Update\Debug "ServerUrl", or empty.
std::u16string readServerUrlOverride();

}  // namespace InstallMenuHelper
