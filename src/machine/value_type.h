#pragma once
// Machine data carry the client library's value type codes; the converter uses them as they are.
#include "commdiag/types.h"

using CommDiag::VALUE_TYPE_DOMAIN;
using CommDiag::VALUE_TYPE_FLOAT;
using CommDiag::VALUE_TYPE_I16;
using CommDiag::VALUE_TYPE_I32;
using CommDiag::VALUE_TYPE_I8;
using CommDiag::VALUE_TYPE_U16;
using CommDiag::VALUE_TYPE_U32;
using CommDiag::VALUE_TYPE_U8;
