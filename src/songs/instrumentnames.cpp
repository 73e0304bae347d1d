#include "songs/instrumentnames.h"

namespace songs {

// General MIDI program order; entries 53 and 68 end in a blank and "叮当琴"
// stands at both 3 and 112, exactly as the instrument chooser shows them.
const char* const kInstrumentNames[kInstrumentCount] = {
    "平台钢琴", "亮音钢琴", "平台电钢琴", "叮当琴",
    "电钢琴 1", "电钢琴 2", "大键琴", "古钢琴",
    "钢片琴", "铁琴", "音乐盒", "抖音琴",
    "立奏木琴", "柔音木琴", "管钟", "扬琴",
    "爵士风琴", "敲击风琴", "摇滚风琴", "教堂风琴",
    "簧风琴", "手风琴", "口琴", "探戈手风琴",
    "古典吉它", "民谣吉它", "爵士电吉它", "电吉它",
    "闷音电吉它", "浊音电吉它", "变音电吉它", "和音吉它",
    "原音贝司", "手弹电贝司", "匹克电贝司", "颤音贝司",
    "重贝司1", "重贝司2", "合成贝司1", "合成贝司2",
    "小提琴", "中提琴", "大提琴", "低音提琴",
    "颤弓弦乐", "弹拨弦乐", "竖琴", "定音鼓",
    "弦乐合奏1", "弦乐合奏2", "合成弦乐1", "合成弦乐2",
    "（啊）诗歌", "（喔）语音 ", "合成人声", "打击交响乐",
    "小号", "伸缩号", "低音号", "闷音小号",
    "法国号", "铜管乐", "合成铜管1", "合成铜管2",
    "低音萨克管", "中音萨克管", "次中音萨克管", "上低音萨克管",
    "双簧管 ", "英国管", "低音管", "单簧管",
    "短笛", "长笛", "直笛", "排笛",
    "吹瓶声", "尺八箫", "笛哨声", "陶笛",
    "合成音-方波", "合成音-锯齿波", "合成音-诗歌", "合成吹管",
    "合成电吉它", "人声键盘", "五度合音", "贝司前奏",
    "新时代", "温暖音", "合音", "合唱",
    "弹弓", "金属", "光耀", "横扫",
    "雨声", "音轨", "水晶", "大气",
    "明亮", "倩影", "回音", "太空",
    "西塔琴", "五弦琴", "三味线", "十三弦琴",
    "卡利玛钟琴", "苏格兰风笛", "古提琴", "唢呐",
    "叮当琴", "阿哥哥鼓", "钢鼓", "木块",
    "日本太鼓", "古高音鼓", "合成鼓", "钹",
    "模拟声-磨弦", "模拟声-呼吸", "模拟声-海浪", "模拟声-鸟鸣",
    "模拟声-电话", "模拟声-直升机", "模拟声-拍手", "模拟声-枪声",
};

// Each key name padded with blanks to six characters, then "调".
const char* const kToneNames[kToneCount] = {
    "C     调", "C#    调", "D     调             ",  // the third entry carries 13 trailing blanks
    "D#    调",
    "E     调", "F     调", "F#    调", "G     调",
    "G#    调", "A     调", "A#    调", "B     调",
};

const char* InstrumentName(int program)
{
    return program >= 0 && program < kInstrumentCount ? kInstrumentNames[program] : "";
}

const char* KeyShortName(int tone)
{
    static const char* const kShort[kToneCount] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return tone >= 0 && tone < kToneCount ? kShort[tone] : "";
}

}  // namespace songs
