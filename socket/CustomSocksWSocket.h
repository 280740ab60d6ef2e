// TCustomSocksWSocket: the SOCKS client layer. With no SOCKS server assigned, the server's case, every
// operation passes straight through to TCustomWSocket; the proxy negotiation plugs into the overrides here.
#pragma once

#include "socket/CustomWSocket.h"

class TCustomSocksWSocket : public TCustomWSocket {
public:
  TCustomSocksWSocket();
  ~TCustomSocksWSocket() override;
};
