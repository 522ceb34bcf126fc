#pragma once
// The camera group's topic table: the seven work events and the three quick
// meets, registered in this order (twenty handlers, each topic also with
// "(rpc)"). The application manager calls it once, right after creating the
// reactor.
class RpcDistributed_Reactor;

void registerGroupWorkTopics(RpcDistributed_Reactor* reactor);
