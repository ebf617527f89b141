#pragma once
#include <cstdint>

// Value type codes of machine data; the client library uses the same codes.
enum ValueType : int32_t {
    VALUE_TYPE_U8 = 1,
    VALUE_TYPE_U16 = 2,
    VALUE_TYPE_U32 = 3,
    VALUE_TYPE_I8 = 4,
    VALUE_TYPE_I16 = 5,
    VALUE_TYPE_I32 = 6,
    VALUE_TYPE_FLOAT = 7,
    VALUE_TYPE_DOMAIN = 8,
};
