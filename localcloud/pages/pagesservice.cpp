#include "localcloud/pages/pagesservice.h"

#include <httplib.h>

#include <string>

namespace {

struct Page
{
    const char *path;
    const char *title;
    const char *body;
};

const Page Pages[] = {
    {"/user_agreement", "用户协议",
     "<p>欢迎使用Mervane云手机。本协议是您与平台之间关于使用云手机服务的约定。</p>"
     "<p>您租用的云手机在租期内归您使用；租期结束后，云机及其中的数据将被回收。</p>"},
    {"/privacy", "隐私政策",
     "<p>我们仅收集提供服务所必需的信息：手机号、登录记录以及您上传到云机的文件。</p>"
     "<p>这些信息不会出售给任何第三方。</p>"},
    {"/disclaimer", "Mervane云手机平台免责声明",
     "<p>您在云机中安装和运行的应用由您自行负责。平台不对第三方应用造成的损失承担责任。</p>"},
    {"/delete_agreement", "注销账号声明",
     "<p>注销账号后，您的云机、文件和登录信息将被删除且无法恢复。</p>"},
};

std::string render(const Page &page)
{
    return std::string("<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>") + page.title
        + "</title><style>body{font-family:sans-serif;max-width:720px;margin:40px auto;line-height:1.7;"
          "color:#333}h1{color:#0598FE;font-size:24px}</style></head><body><h1>"
        + page.title + "</h1>" + page.body + "</body></html>";
}

} // namespace

void PagesService::install(httplib::Server &server)
{
    for (const Page &page : Pages) {
        const std::string html = render(page);
        server.Get(page.path, [html](const httplib::Request &, httplib::Response &response) {
            response.set_content(html, "text/html; charset=utf-8");
        });
    }
}
