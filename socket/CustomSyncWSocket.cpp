#include "socket/CustomSyncWSocket.h"

TCustomSyncWSocket::TCustomSyncWSocket() = default;

TCustomSyncWSocket::~TCustomSyncWSocket() = default;
