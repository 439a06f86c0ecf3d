#pragma once
namespace corvane {

class SheetPresenter;

// Registers a labelled stand-in for each sheet that is not built yet (see SheetPlaceholders.cpp).
void addSheetPlaceholders(SheetPresenter& presenter);

} // namespace corvane
