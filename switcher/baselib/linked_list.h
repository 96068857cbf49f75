// Circular doubly-linked lists with a sentinel, as a table of operations.
// Every operation takes the table's handle (the address of its Signature
// field) first; the table is reached back from the handle in one place.
#pragma once

#include <cstdint>

constexpr uint32_t LINKED_LIST_SIGNATURE = 0x74734C4C;  // "LLst" as bytes

struct ListEntry {
    ListEntry* ForwardLink;
    ListEntry* BackLink;
};

using LinkedListHandle = uint32_t*;

struct LinkedListOperations {
    uint32_t Initialized;
    int32_t (*InstanceCount)(LinkedListHandle handle) noexcept;
    ListEntry* (*InitializeHead)(LinkedListHandle handle, ListEntry* head) noexcept;
    int32_t (*IsEmpty)(LinkedListHandle handle, const ListEntry* head) noexcept;
    // Non-zero when the list the node was on is empty afterwards.
    int32_t (*RemoveEntry)(LinkedListHandle handle, ListEntry* node) noexcept;
    ListEntry* (*RemoveHead)(LinkedListHandle handle, ListEntry* head) noexcept;
    ListEntry* (*RemoveTail)(LinkedListHandle handle, ListEntry* head) noexcept;
    ListEntry* (*InsertTail)(LinkedListHandle handle, ListEntry* head, ListEntry* node) noexcept;
    ListEntry* (*InsertHead)(LinkedListHandle handle, ListEntry* head, ListEntry* node) noexcept;
    uint32_t Signature;
};

// Fills the table, sets its flag and signature and counts the instance.
[[nodiscard]] int32_t LinkedList_Initialize(LinkedListOperations* table) noexcept;
// Uncounts the instance and clears the table.
void LinkedList_Uninitialize(LinkedListOperations* table) noexcept;

inline LinkedListHandle LinkedList_Handle(LinkedListOperations* table) noexcept
{
    return table ? &table->Signature : nullptr;
}
