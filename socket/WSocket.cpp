#include "socket/WSocket.h"

TWSocket::TWSocket() = default;

TWSocket::~TWSocket() = default;
