// The scenario parlote-fake-ollama serves: a few realistic models, Markdown-rich
// replies streamed at reading pace, a thinking model, and pulls with progress.
#pragma once

namespace parlote::testing {

class FakeOllama;

void installDemoScenario(FakeOllama& server);

}  // namespace parlote::testing
