#pragma once
// Printing the standard ballot: every copy is a page of one print job.
#include "model/uBallotTypes.h"

class QPrinter;

namespace korvex {

// Where the 2480 x 3508 page goes on a printable area of the given size in
// printer pixels: 96 % of the limiting dimension, aspect kept, centred.
struct TPrintPlacement {
    double Scale = 0.0;
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
};
TPrintPlacement ComputePrintPlacement(int printableWidth, int printableHeight);

// Prints copies (at least 1) pages on the default printer; raises
// EKorvexError when there is no printer or the job cannot be made.
void PrintBallot(const TBallotTemplate& ATemplate, int copies);

// The same on a printer already set up (a queue or a PDF file).
void PrintBallotOn(QPrinter& printer, const TBallotTemplate& ATemplate, int copies);

}  // namespace korvex
