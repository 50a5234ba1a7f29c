// The update client's parsed address, and the connection settings the
// application gives for an address.
#pragma once

#include <cstdint>
#include <string>

#include "core/object.h"
#include "core/string.h"

namespace LiveUpdate {

// Raised by operations a configuration does not support ("Internal error.").
constexpr std::uint32_t kInternalError = 0x564E22;
// A failed check; the text is the checked expression.
constexpr std::uint32_t kFailedCheck = 0x564E20;

class UriResource : public Processor::RefObject {
 public:
  virtual Processor::String scheme() const = 0;
  virtual Processor::String host() const = 0;
  virtual std::uint16_t port() const = 0;
  // From the first "/" after the host to the end (query included), or "/".
  virtual Processor::String path() const = 0;
  // The text the resource was made from, unchanged.
  virtual Processor::String text() const = 0;
};

class ProtocolConfiguration : public Processor::RefObject {
 public:
  virtual bool useProxy() const = 0;
  virtual Processor::String proxyHost() const = 0;
  virtual std::uint16_t proxyPort() const = 0;
  virtual bool proxyAuthentication() const = 0;
  // "user:password" as the user gave it; the client encodes it for Basic.
  virtual Processor::String proxyCredentials() const = 0;
  // Nothing calls these; the application's configuration supports none of
  // the seven after the flag.
  virtual bool reservedFlag() const = 0;
  virtual void reserved7() = 0;
  virtual void reserved8() = 0;
  virtual void reserved9() = 0;
  virtual void reserved10() = 0;
  virtual void reserved11() = 0;
  virtual void reserved12() = 0;
  virtual void reserved13() = 0;
};

class ProtocolConfigurationAccessor : public Processor::RefObject {
 public:
  // The settings for connections to `resource`; null is a caller's fault.
  virtual Processor::RefPtr<ProtocolConfiguration> configuration(const UriResource& resource) = 0;
};

// Splits scheme://host[:port][/path]. The port is decimal, or hexadecimal
// with "0x" or a trailing "h"; without one, "http" gives 80, "https" 443 and
// any other scheme 0. False without "://", or with a port that is not a
// number or is above 65535.
bool ParseUrl(const std::u16string& text, std::u16string& scheme, std::u16string& host, std::uint16_t& port,
              std::u16string& path);

// Throws the failed check "ParseUrl(uri, Scheme, Host, Port, Path)" when
// ParseUrl refuses the text.
Processor::RefPtr<UriResource> createUriResource(const std::u16string& text);

// The application's configuration: no proxy, no authentication.
Processor::RefPtr<ProtocolConfiguration> createDefaultProtocolConfiguration();
// The application's accessor, one per process: one default configuration per
// scheme text, made on the first request for that scheme.
Processor::RefPtr<ProtocolConfigurationAccessor> applicationConfigurationAccessor();

}  // namespace LiveUpdate
