// TCustomLineWSocket: the line mode layer. With line mode off, the server's case, every operation passes
// straight through to the layer below; line collection plugs into the overrides here.
#pragma once

#include "socket/CustomSocksWSocket.h"

class TCustomLineWSocket : public TCustomSocksWSocket {
public:
  TCustomLineWSocket();
  ~TCustomLineWSocket() override;
};
