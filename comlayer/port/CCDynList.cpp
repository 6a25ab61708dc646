#include "comlayer/port/CCDynList.h"

#include <new>

CCDynList::CCDynList(int count) : head(nullptr), tail(nullptr), current(nullptr) {
    for (int i = 0; i < count; ++i) AddHead(nullptr);
    current = head;
}

CCDynList::~CCDynList() {
    RemoveAll();
}

bool CCDynList::AddTail(void* item) {
    DynListNode* node = new (std::nothrow) DynListNode{tail, nullptr, item};
    if (node == nullptr) return false;
    if (tail != nullptr) tail->next = node;
    tail = node;
    if (head == nullptr) head = node;
    current = node;
    return true;
}

bool CCDynList::AddHead(void* item) {
    DynListNode* node = new (std::nothrow) DynListNode{nullptr, head, item};
    if (node == nullptr) return false;
    if (head != nullptr) head->prev = node;
    head = node;
    if (tail == nullptr) tail = node;
    current = node;
    return true;
}

void* CCDynList::RemoveHead() {
    if (head == nullptr) return nullptr;
    DynListNode* node = head;
    void* item = node->item;
    head = node->next;
    if (head != nullptr)
        head->prev = nullptr;
    else
        tail = nullptr;
    if (current == node) current = head;
    delete node;
    return item;
}

void* CCDynList::RemoveTail() {
    if (tail == nullptr) return nullptr;
    DynListNode* node = tail;
    void* item = node->item;
    tail = node->prev;
    if (tail != nullptr)
        tail->next = nullptr;
    else
        head = nullptr;
    if (current == node) current = tail;
    delete node;
    return item;
}

void* CCDynList::RemoveCurrent() {
    if (current == nullptr) return nullptr;
    if (current == head) return RemoveHead();
    if (current == tail) return RemoveTail();
    DynListNode* node = current;
    void* item = node->item;
    node->prev->next = node->next;
    node->next->prev = node->prev;
    current = head;
    delete node;
    return item;
}

bool CCDynList::MoveNext() {
    if (current == nullptr || current == tail) return false;
    current = current->next;
    return true;
}

bool CCDynList::MoveTo(int index) {
    current = head;
    if (current == nullptr || index < 0) return index == 0 && current != nullptr;
    for (int i = 0; i < index; ++i) {
        if (!MoveNext()) return false;
    }
    return true;
}

int CCDynList::GetCount() const {
    int count = 0;
    for (DynListNode* node = head; node != nullptr; node = node->next) ++count;
    return count;
}

void* CCDynList::GetCurrent() const {
    return current != nullptr ? current->item : nullptr;
}

void* CCDynList::GetAt(int index) {
    MoveTo(index);
    return GetCurrent();
}

void* CCDynList::RemoveAt(int index) {
    MoveTo(index);
    return RemoveCurrent();
}

void CCDynList::RemoveAll() {
    current = tail;
    while (current != nullptr) RemoveTail();
}
