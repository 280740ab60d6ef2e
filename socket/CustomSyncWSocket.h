// TCustomSyncWSocket: the layer that waits, pumping messages, for a flag set by an event handler.
#pragma once

#include "socket/CustomLineWSocket.h"

class TCustomSyncWSocket : public TCustomLineWSocket {
public:
  TCustomSyncWSocket();
  ~TCustomSyncWSocket() override;
};
