#include "switcher/baselib/linked_list.h"

#include <cstddef>
#include <cstring>

namespace {

int32_t g_linkedListInstances = 0;

LinkedListOperations* TableFromHandle(LinkedListHandle handle) noexcept
{
    if (!handle || *handle != LINKED_LIST_SIGNATURE)
        return nullptr;
    auto* table = reinterpret_cast<LinkedListOperations*>(
        reinterpret_cast<char*>(handle) - offsetof(LinkedListOperations, Signature));
    return table->Initialized ? table : nullptr;
}

int32_t LinkedList_InstanceCount(LinkedListHandle handle) noexcept
{
    return TableFromHandle(handle) ? g_linkedListInstances : 0;
}

ListEntry* LinkedList_InitializeHead(LinkedListHandle handle, ListEntry* head) noexcept
{
    if (!TableFromHandle(handle) || !head)
        return nullptr;
    head->ForwardLink = head;
    head->BackLink = head;
    return head;
}

int32_t LinkedList_IsEmpty(LinkedListHandle handle, const ListEntry* head) noexcept
{
    if (!TableFromHandle(handle) || !head)
        return 0;
    return head->ForwardLink == head ? 1 : 0;
}

int32_t LinkedList_RemoveEntry(LinkedListHandle handle, ListEntry* node) noexcept
{
    // A detached node points at itself; unlinking it again must not touch
    // whatever list it was on before.
    if (!TableFromHandle(handle) || !node || node->ForwardLink == node)
        return 0;
    ListEntry* next = node->ForwardLink;
    next->BackLink = node->BackLink;
    node->BackLink->ForwardLink = next;
    node->ForwardLink = node;
    node->BackLink = node;
    return next->ForwardLink == next ? 1 : 0;
}

ListEntry* LinkedList_RemoveHead(LinkedListHandle handle, ListEntry* head) noexcept
{
    if (!TableFromHandle(handle) || !head || head->ForwardLink == head)
        return nullptr;
    ListEntry* node = head->ForwardLink;
    LinkedList_RemoveEntry(handle, node);
    return node;
}

ListEntry* LinkedList_RemoveTail(LinkedListHandle handle, ListEntry* head) noexcept
{
    if (!TableFromHandle(handle) || !head || head->BackLink == head)
        return nullptr;
    ListEntry* node = head->BackLink;
    LinkedList_RemoveEntry(handle, node);
    return node;
}

ListEntry* LinkedList_InsertTail(LinkedListHandle handle, ListEntry* head, ListEntry* node) noexcept
{
    if (!TableFromHandle(handle) || !head || !node)
        return nullptr;
    node->ForwardLink = head;
    node->BackLink = head->BackLink;
    head->BackLink->ForwardLink = node;
    head->BackLink = node;
    return head;
}

ListEntry* LinkedList_InsertHead(LinkedListHandle handle, ListEntry* head, ListEntry* node) noexcept
{
    if (!TableFromHandle(handle) || !head || !node)
        return nullptr;
    node->ForwardLink = head->ForwardLink;
    node->BackLink = head;
    head->ForwardLink->BackLink = node;
    head->ForwardLink = node;
    return head;
}

}  // namespace

int32_t LinkedList_Initialize(LinkedListOperations* table) noexcept
{
    if (!table)
        return 0;
    table->InstanceCount = LinkedList_InstanceCount;
    table->InitializeHead = LinkedList_InitializeHead;
    table->IsEmpty = LinkedList_IsEmpty;
    table->RemoveEntry = LinkedList_RemoveEntry;
    table->RemoveHead = LinkedList_RemoveHead;
    table->RemoveTail = LinkedList_RemoveTail;
    table->InsertTail = LinkedList_InsertTail;
    table->InsertHead = LinkedList_InsertHead;
    table->Signature = LINKED_LIST_SIGNATURE;
    table->Initialized = 1;
    ++g_linkedListInstances;
    return 1;
}

void LinkedList_Uninitialize(LinkedListOperations* table) noexcept
{
    if (!table || !table->Initialized)
        return;
    --g_linkedListInstances;
    memset(table, 0, sizeof(*table));
}
