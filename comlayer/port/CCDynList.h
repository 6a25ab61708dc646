// Doubly linked list of untyped item pointers with a cursor (`current`).
// The list never frees the items it holds.
#pragma once

struct DynListNode {
    DynListNode* prev;
    DynListNode* next;
    void* item;
};

class CCDynList {
public:
    explicit CCDynList(int count = 0);
    virtual ~CCDynList();
    CCDynList(const CCDynList&) = delete;
    CCDynList& operator=(const CCDynList&) = delete;

    bool AddTail(void* item);
    bool AddHead(void* item);
    void* RemoveHead();
    void* RemoveTail();
    void* RemoveCurrent();
    bool MoveNext();
    bool MoveTo(int index);
    int GetCount() const;
    void* GetCurrent() const;
    void* GetAt(int index);
    void* RemoveAt(int index);
    void RemoveAll();

private:
    DynListNode* head;
    DynListNode* tail;
    DynListNode* current;
};
