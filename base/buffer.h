// The program's one buffer that grows: an array of plain items (trivially copyable) over
// malloc. Capacity doubles, so appending stays linear. Every buffer is bounded: it never
// holds more than LIMIT items, and passing that bound or running out of memory gives
// ERROR_NOT_ENOUGH_MEMORY, never an exception. The fields are read directly; 'count' may
// be lowered (to empty or cut the buffer) and raised within what was reserved.
#pragma once
#include <windows.h>
#include <cstdlib>
#include <cstring>
#include <type_traits>

constexpr size_t BUFFER_FIRST_CAPACITY = 16;
constexpr size_t BUFFER_LARGEST_BYTES = 0x7FFFFFFF;     // what the platform's counts and sizes take

template <typename T, size_t LIMIT = BUFFER_LARGEST_BYTES / sizeof(T)>
struct Buffer {
    static_assert(std::is_trivially_copyable_v<T>, "a buffer moves its items as bytes");
    static_assert(LIMIT > 0 && LIMIT <= BUFFER_LARGEST_BYTES / sizeof(T), "the bound must fit a byte count");
    static constexpr size_t limit = LIMIT;
    T* items = nullptr;
    size_t count = 0;
    size_t capacity = 0;
};

// Makes room for 'more' items after the 'count' held: the capacity doubles, or grows to
// what is needed when that is more (at least BUFFER_FIRST_CAPACITY, at most the bound).
// The items held stay as they are.
template <typename T, size_t LIMIT>
[[nodiscard]] DWORD ReserveItems(Buffer<T, LIMIT>& buffer, size_t more)
{
    if (more > LIMIT - buffer.count)
        return ERROR_NOT_ENOUGH_MEMORY;
    size_t needed = buffer.count + more;
    if (needed <= buffer.capacity)
        return ERROR_SUCCESS;
    size_t capacity = buffer.capacity < LIMIT / 2 ? buffer.capacity * 2 : LIMIT;
    if (capacity < needed)
        capacity = needed;
    if (capacity < BUFFER_FIRST_CAPACITY)
        capacity = BUFFER_FIRST_CAPACITY < LIMIT ? BUFFER_FIRST_CAPACITY : LIMIT;
    auto* grown = static_cast<T*>(realloc(buffer.items, capacity * sizeof(T)));
    if (!grown)
        return ERROR_NOT_ENOUGH_MEMORY;
    buffer.items = grown;
    buffer.capacity = capacity;
    return ERROR_SUCCESS;
}

// Appends one zeroed item; nullptr when the buffer cannot grow.
template <typename T, size_t LIMIT>
T* AppendItem(Buffer<T, LIMIT>& buffer)
{
    if (buffer.count == buffer.capacity && ReserveItems(buffer, 1) != ERROR_SUCCESS)
        return nullptr;
    T* item = &buffer.items[buffer.count++];
    memset(static_cast<void*>(item), 0, sizeof(T));
    return item;
}

// Appends one item; false when the buffer cannot grow.
template <typename T, size_t LIMIT>
[[nodiscard]] bool AppendValue(Buffer<T, LIMIT>& buffer, T value)
{
    if (buffer.count == buffer.capacity && ReserveItems(buffer, 1) != ERROR_SUCCESS)
        return false;
    buffer.items[buffer.count++] = value;
    return true;
}

template <typename T, size_t LIMIT>
[[nodiscard]] DWORD AppendItems(Buffer<T, LIMIT>& buffer, const T* items, size_t count)
{
    DWORD result = ReserveItems(buffer, count);
    if (result != ERROR_SUCCESS)
        return result;
    if (count)
        memcpy(static_cast<void*>(buffer.items + buffer.count), items, count * sizeof(T));
    buffer.count += count;
    return ERROR_SUCCESS;
}

// Frees the items; the buffer is empty and may be used again.
template <typename T, size_t LIMIT>
void ReleaseItems(Buffer<T, LIMIT>& buffer)
{
    free(buffer.items);
    buffer.items = nullptr;
    buffer.count = 0;
    buffer.capacity = 0;
}
