#include "app/TutorialCatalog.h"

#include <QtGlobal>
#include <iterator>

namespace {

// The empty step of the shortcut guide is a spacer row before the piano-roll keys.
const TutorialEntry Entries[] = {
    {QT_TRANSLATE_NOOP("WelcomePage", "快捷键指南"),
     QT_TRANSLATE_NOOP("WelcomePage", "常用键盘快捷键操作汇总"),
     {
      QT_TRANSLATE_NOOP("WelcomePage", "Ctrl+N — 创建新工程"),
      QT_TRANSLATE_NOOP("WelcomePage", "Ctrl+Shift+N — 创建多轨工程"),
      QT_TRANSLATE_NOOP("WelcomePage", "Ctrl+I — 导入音频文件"),
      QT_TRANSLATE_NOOP("WelcomePage", "Space — 播放/暂停"),
      QT_TRANSLATE_NOOP("WelcomePage", "Ctrl+R — 开始/停止录音"),
      QT_TRANSLATE_NOOP("WelcomePage", "Ctrl+E — 导出音频"),
      QT_TRANSLATE_NOOP("WelcomePage", "Ctrl+Z — 撤销，Ctrl+Y / Ctrl+Shift+Z — 重做"),
      QT_TRANSLATE_NOOP("WelcomePage", "Ctrl+A — 全选，Ctrl+C/V — 复制/粘贴"),
      QT_TRANSLATE_NOOP("WelcomePage", "Delete — 删除选中区域"),
      QT_TRANSLATE_NOOP("WelcomePage", ""),
      QT_TRANSLATE_NOOP("WelcomePage", "── 钢琴卷帘 ──"),
      QT_TRANSLATE_NOOP("WelcomePage", "Alt+点击空白 — 创建音符，Alt+点击音符 — 拖拷贝"),
      QT_TRANSLATE_NOOP("WelcomePage", "Ctrl+C / Ctrl+V — 复制/粘贴音符"),
      QT_TRANSLATE_NOOP("WelcomePage", "Ctrl+D — 向右复制选中音符"),
      QT_TRANSLATE_NOOP("WelcomePage", "Ctrl+A — 全选音符，Delete — 删除音符"),
      QT_TRANSLATE_NOOP("WelcomePage", "Ctrl+Z / Ctrl+Y — 撤销/重做"),
      QT_TRANSLATE_NOOP("WelcomePage", "↑↓ — 移动音高（Ctrl+↑↓ 移动一个八度）"),
      QT_TRANSLATE_NOOP("WelcomePage", "G / H — 缩小/放大横向缩放")}},
    {QT_TRANSLATE_NOOP("WelcomePage", "录制你的第一条音频"),
     QT_TRANSLATE_NOOP("WelcomePage", "学习如何开始录制、编辑和导出音频文件"),
     {
      QT_TRANSLATE_NOOP("WelcomePage", "点击工具栏“录音”按钮，开始麦克风录音"),
      QT_TRANSLATE_NOOP("WelcomePage", "录制完成后点击“停止”，音频将显示在波形图中"),
      QT_TRANSLATE_NOOP("WelcomePage", "拖动鼠标选择波形区域，可进行裁剪、复制、粘贴操作"),
      QT_TRANSLATE_NOOP("WelcomePage", "点击“导出”按钮，选择WAV或MP3格式保存文件")}},
    {QT_TRANSLATE_NOOP("WelcomePage", "多轨混音入门"),
     QT_TRANSLATE_NOOP("WelcomePage", "掌握多轨音频编辑、剪辑操作和混音导出"),
     {
      QT_TRANSLATE_NOOP("WelcomePage", "在欢迎页点击“+多轨工程”创建多轨项目"),
      QT_TRANSLATE_NOOP("WelcomePage", "点击“+添加轨道”增加音频轨道，支持单声道和立体声"),
      QT_TRANSLATE_NOOP("WelcomePage", "拖动音频片段到不同轨道，调整时间位置"),
      QT_TRANSLATE_NOOP("WelcomePage", "使用混音器调整每轨音量、平衡和效果，导出混合音频")}},
    {QT_TRANSLATE_NOOP("WelcomePage", "MIDI 音乐制作"),
     QT_TRANSLATE_NOOP("WelcomePage", "导入MIDI文件，使用钢琴卷帘和SF2采样器创作音乐"),
     {
      QT_TRANSLATE_NOOP("WelcomePage", "在多轨编辑器中添加MIDI轨道，右键点击创建MIDI片段"),
      QT_TRANSLATE_NOOP("WelcomePage", "双击MIDI片段打开钢琴卷帘，用鼠标绘制音符"),
      QT_TRANSLATE_NOOP("WelcomePage", "导入SF2音色文件，为MIDI轨道分配乐器音色"),
      QT_TRANSLATE_NOOP("WelcomePage", "设置BPM和拍号，使用全局播放预览效果")}},
    {QT_TRANSLATE_NOOP("WelcomePage", "音频效果处理"),
     QT_TRANSLATE_NOOP("WelcomePage", "增益调整、降噪、中置声道提取等音频效果"),
     {
      QT_TRANSLATE_NOOP("WelcomePage", "录制或导入音频后，选择波形图中的音频片段"),
      QT_TRANSLATE_NOOP("WelcomePage", "点击“增益”按钮调整音量，使用淡入淡出效果"),
      QT_TRANSLATE_NOOP("WelcomePage", "点击“降噪”按钮采样噪声谱并减少背景噪声"),
      QT_TRANSLATE_NOOP("WelcomePage", "立体声文件可使用“中置声道提取”分离人声和伴奏")}},
    {QT_TRANSLATE_NOOP("WelcomePage", "频谱分析"),
     QT_TRANSLATE_NOOP("WelcomePage", "使用频谱分析器可视化音频频谱，支持频谱擦除"),
     {
      QT_TRANSLATE_NOOP("WelcomePage", "录制或导入音频后，点击“频谱”按钮打开频谱分析器"),
      QT_TRANSLATE_NOOP("WelcomePage", "可见音频的频率分布，颜色越亮表示能量越强"),
      QT_TRANSLATE_NOOP("WelcomePage", "拖动鼠标框选频谱区域，可进行频谱擦除操作"),
      QT_TRANSLATE_NOOP("WelcomePage", "频谱擦除后点击“应用”将修改写回音频数据")}},
    {QT_TRANSLATE_NOOP("WelcomePage", "插件使用"),
     QT_TRANSLATE_NOOP("WelcomePage", "安装和使用VST3音频插件扩展功能"),
     {
      QT_TRANSLATE_NOOP("WelcomePage", "在设置中指定VST3插件扫描路径，点击“扫描插件”"),
      QT_TRANSLATE_NOOP("WelcomePage", "在混音器中为轨道添加插件，从下拉列表选择已扫描的插件"),
      QT_TRANSLATE_NOOP("WelcomePage", "插件界面支持参数调节，实时听取效果变化"),
      QT_TRANSLATE_NOOP("WelcomePage", "可同时使用多个插件，按钮链顺序影响音频处理流程")}},
};

} // namespace

QList<TutorialEntry> tutorialEntries()
{
    return QList<TutorialEntry>(std::begin(Entries), std::end(Entries));
}
