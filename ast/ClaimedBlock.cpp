#include "ClaimedBlock.h"

#include "ASTDataAccess.h"
#include "ASTLog.h"

ByteCursor readClaimedBlock(ASTDataAccess& access, int32_t claimed, int32_t available, int32_t spare) {
    if (claimed < 0) claimed = 0;
    if (available < 0) available = 0;
    if (spare < 0) spare = 0;
    const int32_t take = claimed < available ? claimed : available;
    ByteCursor block = ByteCursor::allocate(static_cast<size_t>(take) + static_cast<size_t>(spare));
    if (!block.holds()) {
        block.setFailed();
        return block;
    }
    int32_t got = take > 0 ? access.read(block.writable(), take) : 0;
    if (got < 0) got = 0;
    if (got != claimed) {
        if (access.isEof() || (got == take && take < claimed))
            astLog("[AST][INF]Reached end of data:%d.\n", got);
        else
            astLog("[AST][ERR]Failed to read:%d.\n", got);
        block.truncate(static_cast<size_t>(got) + static_cast<size_t>(spare));
        block.setFailed();
    }
    return block;
}
