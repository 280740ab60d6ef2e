#include "platform/src/MessageQueue.h"

namespace kwsplat {

bool MessageFilter::Matches(const MSG& msg) const {
  if (msg.message == WM_QUIT)
    return true;
  if (ThreadOnly && msg.hwnd != nullptr)
    return false;
  if (Window != nullptr && msg.hwnd != Window)
    return false;
  if (Min == 0 && Max == 0)
    return true;
  return Min <= msg.message && msg.message <= Max;
}

MessageQueue::Node* MessageQueue::NewNode() {
  if (!Free) {
    Chunks.push_back(std::make_unique<Node[]>(kChunkNodes));
    Node* chunk = Chunks.back().get();
    for (size_t i = 0; i < kChunkNodes; ++i) {
      chunk[i].Next = Free;
      Free = &chunk[i];
    }
  }
  Node* node = Free;
  Free = node->Next;
  node->Next = nullptr;
  return node;
}

void MessageQueue::Release(Node* node) {
  node->Next = Free;
  Free = node;
}

bool MessageQueue::Post(const MSG& msg, const bool* refused) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (Closed || (refused && *refused))
      return false;
    Node* node = NewNode();
    node->Msg = msg;
    if (Tail)
      Tail->Next = node;
    else
      Head = node;
    Tail = node;
    Unseen = true;
    if (Armed) {
      Armed = false;
      wake = true;
    }
  }
  // The poster holds the owner's state alive, so waking after unlocking is safe.
  if (wake)
    Owner.Wake();
  return true;
}

bool MessageQueue::Take(MSG& out, const MessageFilter& filter, bool remove, bool arm) {
  std::lock_guard<std::mutex> guard(Lock);
  Unseen = false;
  Node* previous = nullptr;
  for (Node* node = Head; node; previous = node, node = node->Next) {
    if (!filter.Matches(node->Msg))
      continue;
    out = node->Msg;
    if (remove) {
      (previous ? previous->Next : Head) = node->Next;
      if (Tail == node)
        Tail = previous;
      Release(node);
    }
    return true;
  }
  Armed = arm;
  return false;
}

bool MessageQueue::HasAny(bool arm) {
  std::lock_guard<std::mutex> guard(Lock);
  if (Head)
    return true;
  Armed = arm;
  return false;
}

bool MessageQueue::HasUnseen(bool arm) {
  std::lock_guard<std::mutex> guard(Lock);
  if (Unseen) {
    Unseen = false;
    return true;
  }
  Armed = arm;
  return false;
}

void MessageQueue::Disarm() {
  std::lock_guard<std::mutex> guard(Lock);
  Armed = false;
}

void MessageQueue::Seal(HWND window, bool& destroyed) {
  std::lock_guard<std::mutex> guard(Lock);
  destroyed = true;
  Node* previous = nullptr;
  Node* node = Head;
  while (node) {
    Node* next = node->Next;
    if (node->Msg.hwnd == window) {
      (previous ? previous->Next : Head) = next;
      if (Tail == node)
        Tail = previous;
      Release(node);
    } else {
      previous = node;
    }
    node = next;
  }
}

void MessageQueue::Close() {
  std::lock_guard<std::mutex> guard(Lock);
  Closed = true;
  while (Head) {
    Node* next = Head->Next;
    Release(Head);
    Head = next;
  }
  Tail = nullptr;
}

} // namespace kwsplat
