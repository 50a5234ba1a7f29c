// "https" for the HTTP client: each connection becomes a TLS client that
// verifies the server (policy 2, its host name checked) and puts certificates
// the library rejects to the process-wide certificate callback.
#pragma once

namespace Network {

// Installs the TLS connector of the HTTP client; call once at start-up.
void useTlsForHttps();

}  // namespace Network
