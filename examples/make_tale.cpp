// Writes examples/tale.dbg: the debugging file of a game of a realistic size
// and shape, for showing the size profile (-stats). A main file, three rooms,
// people and things files and three library files, about 300 routines with
// their sequence points, the compiler's own routines on file 255 and a
// built-in on file 0, and a memory map whose code area holds exactly the
// routines' code. Like a compiler's, it has no ObjectDetails, DirectiveEnd or
// LibraryInclude records. The output is the same on every run.
//
// With -old it writes an older build of the same game, examples/tale-old.dbg,
// for comparing two builds (-diff=OLD): the Ghost and its routines are not
// there yet, a few routines are smaller, and one that the newer build
// dropped is still there.
//
// With -failed it writes the file of a build that failed, its story over
// the limit, examples/tale-failed.dbg: every routine and its end, then the
// first bytes of the Header record, where the compiler stopped.
//
//   make_tale [-old | -failed] examples/tale.dbg
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "debug_file_builder.h"

namespace {

std::uint32_t random_state = 20261209;

// A fixed-seed generator, so that every run writes the same file.
unsigned random_between(unsigned low, unsigned high) {
    random_state ^= random_state << 13;
    random_state ^= random_state >> 17;
    random_state ^= random_state << 5;
    return low + random_state % (high - low + 1);
}

enum SourceFile : unsigned { BuiltIn = 0, Tale = 1, Parse, Verbs, Grammar, Rooms, People, Things, Compiler = 255 };

DebugFileBuilder file;
bool older_build = false;
unsigned routine_number = 0;
unsigned long code_offset = 0;  // routines follow one another in the code area
unsigned line_in[256];

// Routines that the older build lacks, and routines that were smaller in it.
constexpr std::string_view added_since_older[] = {"Ghost.life", "Ghost.describe", "Ghost.near_before"};
struct OlderSize {
    std::string_view name;
    unsigned size;
};
constexpr OlderSize smaller_in_older[] = {
    {"Parse__command", 2604}, {"QuibrelMessages", 2050}, {"Butler.orders", 611}, {"MatchNoun", 1120}};

// A routine of `size` bytes at the next code offset, with a sequence point
// every 9 bytes or so, each on a line of its own. The older build draws the
// same random numbers, so that the routines both builds share stay alike.
void add_routine(SourceFile source, std::string_view name, unsigned size) {
    const unsigned line = line_in[source] += random_between(3, 12);
    const unsigned character = source == BuiltIn ? 0 : 1;
    const Position start{source, source == BuiltIn ? 0 : line, character};
    const unsigned locals = random_between(0, 2);
    std::vector<SequencePoint> points;
    unsigned offset = 0;
    for (unsigned point = 0; offset < size; ++point) {
        points.push_back({{source, line + 1 + point, 5}, offset});
        offset += random_between(4, 14);
    }
    line_in[source] = line + static_cast<unsigned>(points.size()) + 1;
    if (older_build) {
        for (std::string_view added : added_since_older)
            if (name == added) return;
        for (const OlderSize& smaller : smaller_in_older) {
            if (name != smaller.name) continue;
            size = smaller.size;
            while (points.back().code_offset >= size) points.pop_back();
        }
    }

    ++routine_number;
    switch (locals) {
        case 0:
            file.routine(routine_number, start, code_offset, name);
            break;
        case 1:
            file.routine(routine_number, start, code_offset, name, {"obj"});
            break;
        default:
            file.routine(routine_number, start, code_offset, name, {"i", "j", "k"});
            break;
    }
    if (source != BuiltIn) file.sequence_points(routine_number, points);
    code_offset += size;
    file.routine_end(routine_number, {source, source == BuiltIn ? 0 : line_in[source], character}, code_offset);
}

// A routine that only the older build has. It draws no random number, so
// that the routines after it are those of the newer build.
void add_older_routine(SourceFile source, std::string_view name, unsigned size) {
    if (!older_build) return;
    const std::uint32_t saved_random_state = random_state;
    add_routine(source, name, size);
    random_state = saved_random_state;
}

// Routines of sizes from `low` to `high` bytes.
void add_routines(SourceFile source, std::initializer_list<std::string_view> names, unsigned low, unsigned high) {
    for (std::string_view name : names) add_routine(source, name, random_between(low, high));
}

unsigned object_number = 0;

void add_object(SourceFile source, const std::string& name) {
    ++object_number;
    const unsigned line = line_in[source] += 2;
    if (older_build && name == "Ghost") return;
    file.object(object_number, name, {source, line, 1}, {source, line + 8, 2});
}

// An object with its property routines ("Kitchen.before").
void add_object_with_routines(SourceFile source, const std::string& name,
                              std::initializer_list<std::string_view> properties, unsigned low, unsigned high) {
    add_object(source, name);
    for (std::string_view property : properties)
        add_routine(source, name + "." + std::string(property), random_between(low, high));
}

void add_definitions() {
    const char* attributes[] = {"animate", "absent",    "clothing",  "concealed",  "container", "door",
                                "edible",  "enterable", "flagged",   "light",      "lockable",  "locked",
                                "moved",   "on",        "open",      "openable",   "proper",    "scenery",
                                "scored",  "static",    "supporter", "switchable", "speaking",  "transparent",
                                "visited", "marked",    "worn"};
    unsigned number = 0;
    for (const char* name : attributes) file.attribute(number++, name);
    const char* properties[] = {
        "name",       "description", "before",       "after",      "life",        "n_to",       "s_to",      "e_to",
        "w_to",       "u_to",        "d_to",         "in_to",      "out_to",      "door_to",    "key_item",  "door_way",
        "list_entry", "plural",      "in_scope_too", "group_with", "near_before", "near_after", "grammar",   "orders",
        "initial",    "if_open",     "if_closed",    "if_on",      "if_off",      "daemon",     "each_turn", "number",
        "turns_left", "timer_ends",  "capacity",     "article",    "short_name",  "match_name", "no_exit"};
    number = 1;
    for (const char* name : properties) file.property(number++, name);
    const char* globals[] = {"location",      "status_left", "status_right", "the_time",   "score",
                             "turns",         "player",      "deadflag",     "look_style", "list_style",
                             "true_location", "action",      "noun",         "second",     "actor",
                             "self",          "sender",      "topic_from",   "word_at",    "verb_typed"};
    number = 16;
    for (const char* name : globals) file.global(number++, name);
    const char* actions[] = {"Look",   "Take",    "Drop",     "Inv",       "Examine", "Open",    "Close",
                             "Lock",   "Unlock",  "SwitchOn", "SwitchOff", "Wear",    "TakeOff", "Eat",
                             "Enter",  "Exit",    "Go",       "Give",      "Show",    "Insert",  "PutOn",
                             "Remove", "Search",  "Listen",   "Wait",      "Attack",  "Tell",    "Ask",
                             "Answer", "Climb",   "Push",     "Pull",      "Turn",    "Burn",    "Score",
                             "Quit",   "Restart", "Restore",  "Save",      "Verify",  "Version", "Pray"};
    number = 0;
    for (const char* name : actions) file.action(number++, name);
    const char* fake_actions[] = {"LetGo",     "Received", "HitBy", "Command", "SameAs",
                                  "ManyFound", "ListNote", "Note",  "Prompt",  "Unparsed"};
    number = 4096;
    for (const char* name : fake_actions) file.fake_action(number++, name);
    const char* arrays[] = {"input_text",   "input_words",   "input_text2", "input_words2",      "command_objects",
                            "many_objects", "token_pattern", "candidates",  "candidate_classes", "short_name_store"};
    number = 0x2f20;
    for (const char* name : arrays) {
        file.array(number, name);
        number += random_between(16, 260);
    }
}

void add_library() {
    add_routine(Parse, "Parse__command", 2936);
    add_routine(Parse, "MatchNoun", 1184);
    add_routine(Parse, "SettleAmbiguity", 842);
    add_routine(Parse, "RankMatches", 706);
    add_routine(Parse, "QuibrelMain::run", 1412);
    add_routine(Parse, "QuibrelMain::begin_action", 318);
    add_routine(Parse, "QuibrelMain::close_turn", 496);
    add_routines(
        Parse,
        {"ParseError",     "ReadKeys",          "GuessBest",     "GuessOnly",       "SameObjects",    "EchoCommand",
         "NotVisible",     "ListAdd",           "ListRemove",    "ListFilter",      "EchoGuess",      "TryObject",
         "ReadArticles",   "IsCreature",        "ChainWords",    "ReadToken__",     "WordNext",       "WordNextHalt",
         "WordIsIn",       "LookUpWord",        "WordAsNumber",  "ReadNumber",      "GenderOf",       "GenderOfObject",
         "NamesIt",        "MoveSharedObjects", "MovePlayer",    "ScopeInside",     "ActOnScope",     "ScanScope",
         "PutInScope",     "ExtendScope",       "CheckScope",    "EachInScope",     "SightLevels",    "OutOfReach",
         "HoldsSomewhere", "SharedParent",      "AskYesNo",      "TitleLine",       "ReportError",    "StatusLine",
         "ShowShortName",  "ListFrom",          "ListRecursive", "BeforeListEntry", "AfterListEntry", "DescribeRoom",
         "LookHelper__",   "UpdateTasks",       "ScoreChanged",  "RecountLight",    "GivesLight",     "HidesLight",
         "SwapPlayer",     "BeginDaemon",       "EndDaemon",     "BeginTimer",      "EndTimer",       "RunEachTurn",
         "ShowStatus",     "ClockSet",          "DoAction",      "AfterHooks",      "RunLifeOf",      "RegionOf",
         "ShowOrRun",      "ShowOrRunValue",    "ValueOrCall",   "CallHooks"},
        24, 420);
    add_routines(
        Verbs,
        {"LookSub",          "TakeSub",   "DropSub",    "InventorySub", "ExamineSub", "OpenSub",   "CloseSub",
         "LockSub",          "UnlockSub", "TurnOnSub",  "TurnOffSub",   "WearSub",    "RemoveSub", "EatSub",
         "EnterSub",         "LeaveSub",  "GetDownSub", "GoSub",        "GoInSub",    "GiveSub",   "ShowSub",
         "InsertSub",        "PutOnSub",  "TakeOutSub", "EmptySub",     "MoveSub",    "SearchSub", "LookUnderSub",
         "ListenSub",        "TasteSub",  "TouchSub",   "SmellSub",     "WaitSub",    "ThinkSub",  "SleepSub",
         "SingSub",          "JumpSub",   "PraySub",    "WaveSub",      "PullSub",    "PushSub",   "TurnSub",
         "SetSub",           "SetToSub",  "AttackSub",  "TellSub",      "AskSub",     "AnswerSub", "BuySub",
         "ClimbSub",         "CutSub",    "DigSub",     "DrinkSub",     "FillSub",    "KissSub",   "RubSub",
         "SqueezeSub",       "SwimSub",   "SwingSub",   "TieSub",       "WakeSub",    "BurnSub",   "ScoreSub",
         "TallySub",         "QuitSub",   "RestartSub", "RestoreSub",   "SaveSub",    "CheckSub",  "TranscriptOnSub",
         "TranscriptOffSub", "WordsSub",  "ThingsSub",  "PlacesSub",    "AboutSub",   "YesSub",    "NoSub",
         "SorrySub",         "CurseSub",  "MildSub",    "ReadSub",      "BlowSub",    "ThrowSub",  "DanceSub"},
        10, 180);
    add_routine(Verbs, "QuibrelMessages", 2210);
    add_routine(Verbs, "Msg__Q", 1650);
}

void add_game() {
    add_routine(Tale, "Initialise", 188);
    add_routines(Tale,
                 {"ShowRank", "EndingMessage", "AfterDeath", "TurnPasses", "Extras", "BeforeReading", "TaskTitle",
                  "ExtraScope", "EnteredRoom", "PickObjects", "BeforeEveryAction"},
                 16, 140);
    add_older_routine(Tale, "ScoreTable", 164);
    file.class_("Room", {Rooms, 3, 1}, {Rooms, 12, 2});
    add_routines(Rooms, {"Room::before", "Room::after"}, 30, 90);
    const char* rooms[] = {"Kitchen", "Cellar",   "Garden",     "Hall",      "Attic",    "Library", "Study",
                           "Bedroom", "Bathroom", "Porch",      "Pantry",    "Corridor", "Stairs",  "Tower",
                           "Crypt",   "Orchard",  "Greenhouse", "Boathouse", "Chapel",   "Gallery"};
    for (const char* room : rooms) {
        switch (random_between(0, 3)) {
            case 0:
                add_object_with_routines(Rooms, room, {"description"}, 20, 120);
                break;
            case 1:
                add_object_with_routines(Rooms, room, {"description", "before"}, 20, 260);
                break;
            case 2:
                add_object_with_routines(Rooms, room, {"description", "n_to", "no_exit"}, 12, 160);
                break;
            default:
                add_object_with_routines(Rooms, room, {"before", "after", "each_turn"}, 30, 380);
                break;
        }
    }
    file.class_("Person", {People, 3, 1}, {People, 20, 2});
    add_routines(People, {"Person::life", "Person::orders", "Person::grammar"}, 60, 240);
    add_object_with_routines(People, "Butler", {"life", "orders", "daemon", "each_turn"}, 120, 900);
    add_object_with_routines(People, "Gardener", {"life", "daemon"}, 100, 600);
    add_object_with_routines(People, "Cook", {"life", "before"}, 90, 520);
    add_object_with_routines(People, "Ghost", {"life", "describe", "near_before"}, 60, 400);
    file.class_("Food", {Things, 3, 1}, {Things, 14, 2});
    add_routines(Things, {"Food::before", "Food::after"}, 40, 120);
    const char* things[] = {"Lamp", "Key", "Box", "Book", "Ladder", "Rope", "Candle", "Map", "Coin", "Ring"};
    for (const char* thing : things) add_object_with_routines(Things, thing, {"before", "after"}, 14, 220);
    for (int i = 0; i < 14; ++i) {
        std::string nameless = "nameless_obj__" + std::to_string(object_number + 1);
        if (i % 3 == 0)
            add_object(Things, nameless);
        else
            add_object_with_routines(Things, nameless, {i % 2 == 0 ? "before" : "after"}, 10, 90);
    }
    add_routines(Grammar, {"AnyDirection", "TalkTopic", "TalkTopicIn", "PickSide"}, 8, 40);
}

void add_compiler_routines() {
    add_routines(Compiler, {"Box__Show",      "Msg__Run",       "Art__Def",          "Art__Indef",     "Art__DefCap",
                            "Art__IndefCap",  "Num__Words",     "Name__Print",       "Prop__Write",    "Prop__Read",
                            "Prop__Addr",     "Inc__Before",    "Inc__After",        "Dec__Before",    "Rt__Addr",
                            "Rt__Len",        "Rt__Scope",      "Obj__Prov",         "Class__Of",      "Copy__Block",
                            "Err__Report",    "Region__Of",     "Compare__Unsigned", "Meta__Class",    "Prop__Table",
                            "Class__Msg",     "Chk__Tree",      "Chk__Remove",       "Chk__PropSet",   "Chk__PropRead",
                            "Trace__PropSet", "Chk__LoadByte",  "Chk__LoadWord",     "Chk__StoreByte", "Chk__StoreWord",
                            "Chk__PrintChar", "Chk__PrintAddr", "Chk__PrintStr",     "Chk__PrintObj"},
                 12, 260);
    add_routine(BuiltIn, "Start__", 9);
}

}  // namespace

int main(int argc, char** argv) {
    older_build = argc == 3 && std::string_view(argv[1]) == "-old";
    const bool failed_build = argc == 3 && std::string_view(argv[1]) == "-failed";
    if (argc != 2 + (older_build || failed_build)) {
        std::fputs("usage: make_tale [-old | -failed] OUTPUT\n", stderr);
        return 2;
    }
    // A story file of version 5, whose length (in 4-byte units at 0x1A) is
    // the map's end of file.
    std::vector<unsigned char> game_header(64);
    for (unsigned i = 0; i < 64; ++i) game_header[i] = static_cast<unsigned char>(i * 29 + 3);
    game_header[0] = 5;

    file.header(6, 42, 1641)
        .file(Tale, "tale", "games/tale/tale.src")
        .file(Parse, "QuibrelParse", "games/tale/lib/QuibrelParse.h")
        .file(Verbs, "QuibrelVerbs", "games/tale/lib/QuibrelVerbs.h")
        .file(Rooms, "rooms", "games/tale/rooms.src")
        .file(People, "people", "games/tale/people.src")
        .file(Things, "things", "games/tale/things.src")
        .file(Grammar, "QuibrelGrammar", "games/tale/lib/QuibrelGrammar.h");
    add_definitions();
    add_library();
    add_game();
    add_compiler_routines();
    // The compiler writes the map in the order of the addresses.
    const unsigned long code_area = 0x5a3c;
    const unsigned long strings_area = code_area + code_offset;
    const unsigned long end_of_file = strings_area + 0x9a3c;
    game_header[0x1a] = static_cast<unsigned char>(end_of_file / 4 >> 8);
    game_header[0x1b] = static_cast<unsigned char>(end_of_file / 4);
    if (failed_build) {
        file.raw(DebugFileBuilder().game_header(game_header).bytes().substr(0, 21));
        return file.write_to(argv[argc - 1]) ? 0 : 1;
    }
    file.game_header(game_header);
    file.memory_map({{"abbreviations table", 0x40},
                     {"header extension", 0x102},
                     {"property defaults", 0x10e},
                     {"objects", 0x18c},
                     {"class numbers", 0x2a50},
                     {"individual properties", 0x2a64},
                     {"global variables", 0x2d12},
                     {"arrays", 0x2f20},
                     {"grammar table", 0x3a8e},
                     {"actions table", 0x4416},
                     {"dictionary", 0x4580},
                     {"code area", code_area},
                     {"strings area", strings_area},
                     {"end of file", end_of_file}})
        .end();

    return file.write_to(argv[argc - 1]) ? 0 : 1;
}
