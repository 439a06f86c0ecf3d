#pragma once
// The renderer interface is declared once, beside the model that drives it.
#include "model/BoardRenderer.hpp"
