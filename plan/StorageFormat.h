// Re-formatting the volume "Storage Card": the store among "DSK1:".."DSK4:" whose first
// partition carries it is dismounted, formatted with "fatutil.dll", re-created and mounted.
// Once dismounted it is always mounted again, also when the library cannot be used. Every
// failing step is logged; the routine always returns 0.
#pragma once

int FormatStorageCard();
