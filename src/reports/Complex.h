// The complex report: one labelled block about the whole complex.
#pragma once

namespace cmplxview {

int loadComplex(int& complexCount, int& cabinetCount);
int printComplex(int complexCount, int cabinetCount);

}  // namespace cmplxview
