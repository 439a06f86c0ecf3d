#pragma once
// One include for the whole board model.
#include "Date.hpp"
#include "Documents.hpp"
#include "Errors.hpp"
#include "Format.hpp"
#include "Geometry.hpp"
#include "Layers.hpp"
#include "Primitives.hpp"
#include "Results.hpp"
