#include "ClaimedBlock.h"

#include <cstdlib>

#include "ASTDataAccess.h"
#include "ASTLog.h"

uint8_t* readClaimedBlock(ASTDataAccess& access, int32_t claimed, int32_t available, int32_t spare, int32_t& got) {
    got = 0;
    if (claimed < 0) claimed = 0;
    if (available < 0) available = 0;
    if (spare < 0) spare = 0;
    int32_t take = claimed < available ? claimed : available;
    uint8_t* block = static_cast<uint8_t*>(calloc(static_cast<size_t>(take) + static_cast<size_t>(spare) + 1, 1));
    if (block == nullptr) return nullptr;
    got = take > 0 ? access.read(block, take) : 0;
    if (got < 0) got = 0;
    if (got != claimed) {
        if (access.isEof() || (got == take && take < claimed))
            astLog("[AST][INF]Reached end of data:%d.\n", got);
        else
            astLog("[AST][ERR]Failed to read:%d.\n", got);
    }
    return block;
}
