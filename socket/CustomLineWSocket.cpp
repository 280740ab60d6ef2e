// TCustomLineWSocket: collecting lines, handing them out one at a time, echo and editing, and the re-offer
// of buffered bytes after the mode changed.
#include "socket/CustomLineWSocket.h"

#include <algorithm>
#include <cstring>
#include <utility>

TCustomLineWSocket::TCustomLineWSocket() = default;

TCustomLineWSocket::~TCustomLineWSocket() {
  UnbindWindow(); // no notification may run into the line buffer while it goes
}

void TCustomLineWSocket::ResetDefaults() {
  TCustomSocksWSocket::ResetDefaults();
  LineBuffer.clear();
  FLineReady = 0;
  RescanBuffer = false;
}

void TCustomLineWSocket::SetLineMode(bool value) {
  if (value == FLineMode) {
    return;
  }
  FLineMode = value;
  RescanBuffer = value;
  if (!LineBuffer.empty() || FLineReady > 0) {
    PostMessageA(WindowHandle(), MsgLineReoffer, 0, 0);
  }
}

void TCustomLineWSocket::DispatchSocketMessage(TMessage& msg) {
  if (msg.Msg != MsgLineReoffer) {
    TCustomSocksWSocket::DispatchSocketMessage(msg);
    return;
  }
  try {
    Reoffer();
  } catch (Exception& e) {
    HandleBgException(e);
  }
}

// Bytes already buffered get no read notification of their own: offer them until the handler stops taking.
void TCustomLineWSocket::Reoffer() {
  while (!LineBuffer.empty()) {
    const size_t before = LineBuffer.size();
    FireDataAvailable(0);
    if (LineBuffer.size() == before) {
      return;
    }
  }
}

// ---- Receiving ------------------------------------------------------------------------------------------

bool TCustomLineWSocket::FireDataAvailable(WORD error) {
  if (!FLineMode || LineEnd.empty() || SocksState() != SocksIdle) {
    return TCustomSocksWSocket::FireDataAvailable(error);
  }
  // After the switch to line mode the whole buffer is searched once: lines may be complete in it already.
  size_t searchStart = 0;
  const bool rescan = std::exchange(RescanBuffer, false);
  const int32_t ready = TCustomSocksWSocket::RcvdCount();
  if (ready > 0) {
    const int32_t wanted = std::min(ready, std::max(LineLimit - BufferedCount(), 1));
    const size_t held = LineBuffer.size();
    LineBuffer.resize(held + static_cast<size_t>(wanted));
    const int got = TCustomSocksWSocket::RawReceive(LineBuffer.data() + held, wanted, 0);
    LineBuffer.resize(held + static_cast<size_t>(std::max(got, 0)));
    if (got > 0) {
      int32_t n = got;
      if (LineEdit) {
        EditLine(n);
      } else if (LineEcho) {
        Echo(LineBuffer.substr(held));
      }
      // Far enough back to find a terminator split across two receives.
      const size_t previous = LineBuffer.size() - static_cast<size_t>(n);
      searchStart = rescan || previous < LineEnd.size() ? 0 : previous - LineEnd.size();
    } else if (!rescan) {
      return true;
    }
  } else if (!rescan) {
    return true;
  }
  DeliverLines(searchStart);
  if (FLineMode && BufferedCount() >= LineLimit) {
    FireLineTooLong();
    if (FLineMode) {
      OfferRest();
    }
  }
  return true;
}

void TCustomLineWSocket::DeliverLines(size_t searchStart) {
  while (FLineMode) {
    const size_t found = LineBuffer.find(LineEnd, searchStart);
    if (found == std::string::npos) {
      return;
    }
    FLineReady = static_cast<int32_t>(found + LineEnd.size());
    OfferLine();
    searchStart = 0;
  }
}

void TCustomLineWSocket::OfferLine() {
  while (FLineMode && FLineReady > 0) {
    const int32_t before = FLineReady;
    const bool taken = TCustomSocksWSocket::FireDataAvailable(0);
    // Without a handler, or with one that leaves the line unread, the line is dropped: offering it again
    // would never end.
    if (!taken || (FLineMode && FLineReady == before)) {
      LineBuffer.erase(0, std::min(static_cast<size_t>(FLineReady), LineBuffer.size()));
      FLineReady = 0;
    }
  }
  // Line mode was switched off mid-line: the unread rest stays at the front, read as plain bytes.
  FLineReady = 0;
}

void TCustomLineWSocket::OfferRest() {
  FLineReady = BufferedCount();
  OfferLine();
}

int32_t TCustomLineWSocket::RcvdCount() {
  if (FLineMode) {
    return FLineReady;
  }
  // Bytes left in the buffer come first, and the handler of the re-offer must see them.
  if (!LineBuffer.empty()) {
    return BufferedCount();
  }
  return TCustomSocksWSocket::RcvdCount();
}

int TCustomLineWSocket::RawReceive(void* buffer, int size, int flags) {
  const int32_t available = FLineMode ? FLineReady : BufferedCount();
  if (available <= 0 || size <= 0) {
    return TCustomSocksWSocket::RawReceive(buffer, size, flags);
  }
  const int32_t taken = std::min(size, available);
  std::memcpy(buffer, LineBuffer.data(), static_cast<size_t>(taken));
  LineBuffer.erase(0, static_cast<size_t>(taken));
  if (FLineMode) {
    FLineReady -= taken;
  }
  return taken;
}

void TCustomLineWSocket::FireSessionClosed(WORD error) {
  // The unterminated rest is the peer's last line.
  if (FLineMode && !LineBuffer.empty()) {
    OfferRest();
  }
  LineBuffer.clear();
  LineBuffer.shrink_to_fit();
  FLineReady = 0;
  TCustomSocksWSocket::FireSessionClosed(error);
}

// ---- Echo and editing -----------------------------------------------------------------------------------

void TCustomLineWSocket::Echo(const std::string& bytes) {
  if (!bytes.empty()) {
    Send(bytes.data(), static_cast<int>(bytes.size()));
  }
}

void TCustomLineWSocket::EditLine(int32_t& n) {
  const size_t start = LineBuffer.size() - static_cast<size_t>(n);
  std::string edited; // made at the first backspace or tab; its size is the write index from then on
  bool editing = false;
  size_t write = start;
  size_t low = start;
  std::string echo;
  for (size_t read = start; read < LineBuffer.size(); ++read) {
    const char c = LineBuffer[read];
    if ((c == '\b' || c == '\t') && !editing) {
      editing = true;
      edited.assign(LineBuffer, 0, read);
    }
    if (c == '\b') {
      if (write == 0) {
        continue;
      }
      if (LineEcho) {
        echo += "\b \b";
      }
      edited.pop_back();
      low = std::min(low, --write);
    } else if (c == '\t') {
      const size_t from = write;
      do {
        edited += ' ';
        ++write;
      } while (write % kTabWidth != 0);
      if (LineEcho) {
        echo.append(write - from, ' ');
      }
    } else {
      if (LineEcho) {
        echo += c;
      }
      if (editing) {
        edited += c;
      }
      ++write;
    }
  }
  Echo(echo);
  if (!editing) {
    return;
  }
  LineBuffer = std::move(edited);
  n = static_cast<int32_t>(write - low);
}

void TCustomLineWSocket::FireLineTooLong() {
  if (OnLineTooLong) {
    OnLineTooLong(*this);
  }
}
